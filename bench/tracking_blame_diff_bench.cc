// blame_diff below the Python boundary: time per diff and the peak heap the
// diff itself allocates, for growing inputs. The heap figure must grow with
// the number of lines, never with its square.
//
// Usage: tracking_blame_diff_bench
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tracking/line_diff.h"

namespace {

// Heap accounting: every allocation of the process goes through these.
size_t g_live = 0;
size_t g_peak = 0;

struct Input {
  std::vector<std::string> old_lines, new_lines;
};

std::string record_line(std::mt19937& rng, long id) {
  static const char* kWords[] = {"tide", "comet", "bee", "lichen", "glacier", "report", "sketch"};
  std::string text = "{\"id\": " + std::to_string(id) + ", \"text\": \"";
  size_t words = 8 + rng() % 23;
  for (size_t w = 0; w < words; ++w) {
    if (w > 0) text.push_back(' ');
    text += kWords[rng() % 7];
  }
  return text + "\", \"score\": 0." + std::to_string(rng() % 1000) + "}";
}

// 1% of the lines changed, inserted or deleted, spread over the file.
Input one_percent(size_t count) {
  std::mt19937 rng(3);
  Input in;
  for (size_t i = 0; i < count; ++i) in.old_lines.push_back(record_line(rng, static_cast<long>(i)));
  in.new_lines = in.old_lines;
  for (size_t e = 0; e < count / 100; ++e) {
    size_t pos = rng() % in.new_lines.size();
    unsigned kind = rng() % 10;
    if (kind < 6) {
      in.new_lines[pos] += " (edited)";
    } else if (kind < 8) {
      in.new_lines.insert(in.new_lines.begin() + static_cast<long>(pos), record_line(rng, -static_cast<long>(pos)));
    } else {
      in.new_lines.erase(in.new_lines.begin() + static_cast<long>(pos));
    }
  }
  return in;
}

Input disjoint(size_t count) {
  std::mt19937 rng(5);
  Input in;
  for (size_t i = 0; i < count; ++i) {
    in.old_lines.push_back("old " + record_line(rng, static_cast<long>(i)));
    in.new_lines.push_back("new " + record_line(rng, static_cast<long>(i)));
  }
  return in;
}

void run(const char* name, const Input& in, int repeat) {
  std::vector<std::string_view> a(in.old_lines.begin(), in.old_lines.end());
  std::vector<std::string_view> b(in.new_lines.begin(), in.new_lines.end());
  double best = 1e300;
  size_t peak = 0, opcodes = 0;
  for (int r = 0; r < repeat; ++r) {
    size_t base = g_live;
    g_peak = g_live;
    auto start = std::chrono::steady_clock::now();
    std::vector<zr::tracking::DiffOpcode> result = zr::tracking::blame_diff(a, b);
    std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
    peak = g_peak - base;
    opcodes = result.size();
  }
  std::printf("  %-22s %7zu vs %7zu lines: %9.2f ms, peak heap %9.1f KiB (%5.1f bytes/line), %zu opcodes\n", name,
              a.size(), b.size(), best, static_cast<double>(peak) / 1024.0,
              static_cast<double>(peak) / static_cast<double>(a.size() + b.size()), opcodes);
}

}  // namespace

void* operator new(size_t size) {
  size_t* block = static_cast<size_t*>(std::malloc(size + sizeof(size_t) * 2));
  if (block == nullptr) throw std::bad_alloc();
  block[0] = size;
  g_live += size;
  if (g_live > g_peak) g_peak = g_live;
  return block + 2;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  size_t* block = static_cast<size_t*>(p) - 2;
  g_live -= block[0];
  std::free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

int main() {
  std::printf("blame_diff (C++ only, best of runs)\n");
  run("1% changed", one_percent(20000), 5);
  run("1% changed, 10x", one_percent(200000), 2);
  run("no line in common", disjoint(2000), 3);
  run("no line in common, 4x", disjoint(8000), 1);
  return 0;
}
