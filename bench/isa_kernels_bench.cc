// The per-instruction-set routines, each copy this CPU runs against the
// portable one, in one process on the same bytes (runs of the copies take
// turns, best of --runs each), so that their ratio holds even on a busy
// machine.
//
// Usage: isa_kernels_bench CORPUS.jsonl [runs=7]
//   (line_hash_bench --generate makes a corpus)
// Prints, per copy, MB/s of: canonicalising every line (parse + compact
// write), writing every line as a JSON string, and scanning the whole corpus
// for a needle that is not there (stopping at each backslash); then each
// copy's ratio to the portable copy.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "json/cpu_kernels.h"
#include "json/parse.h"
#include "store/cpu_kernels.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double canonicalize = 0, append_string = 0, needle_scan = 0;  // best MB/s
};

template <typename Fn>
double mb_per_s(size_t bytes, Fn&& fn) {
  const auto start = Clock::now();
  fn();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(bytes) / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: isa_kernels_bench CORPUS.jsonl [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  auto mapped = zr::base::MappedFile::Open(argv[1]);
  if (!mapped.ok()) {
    std::fprintf(stderr, "%s\n", mapped.status().message().c_str());
    return 1;
  }
  // The lines with the corpus behind them, so parsing happens in place.
  const std::string corpus =
      std::string(mapped.value().data(), mapped.value().size()) + std::string(zr::json::required_padding(), ' ');
  std::vector<std::string_view> lines;
  for (size_t pos = 0, end; (end = corpus.find('\n', pos)) != std::string::npos; pos = end + 1) {
    lines.emplace_back(corpus.data() + pos, end - pos);
  }
  const std::string_view whole(corpus.data(), corpus.size() - zr::json::required_padding());

  // Every room offers the same copies in the same order.
  const auto copies = zr::json::runnable_cpu_kernels();
  const auto scan_copies = zr::store::runnable_cpu_kernels();
  std::vector<Figures> best(copies.size());
  std::string out;
  size_t sink = 0;
  for (int run = 0; run < runs; ++run) {
    for (size_t c = 0; c < copies.size(); ++c) {
      const zr::json::CpuKernels& k = *copies[c];
      const zr::store::CpuKernels& scans = *scan_copies[c];
      auto parser = k.new_parser();
      Figures& f = best[c];
      f.canonicalize = std::max(f.canonicalize, mb_per_s(whole.size(), [&] {
        for (std::string_view line : lines) {
          sink += parser->Canonicalize(line, corpus.data() + corpus.size() - line.end(), out);
        }
      }));
      f.append_string = std::max(f.append_string, mb_per_s(whole.size(), [&] {
        for (std::string_view line : lines) {
          out.clear();
          k.append_string(out, line);
          sink += out.size();
        }
      }));
      f.needle_scan = std::max(f.needle_scan, mb_per_s(whole.size(), [&] {
        for (size_t at = 0;
             (at = scans.find_needle_or_escape(whole, at, "\"no such name\"")) != std::string_view::npos;) {
          ++at;
          ++sink;
        }
      }));
    }
  }
  std::printf("corpus: %.1f MB, %zu lines (checksum %zu)\n", whole.size() / 1e6, lines.size(), sink % 1000);
  std::printf("%-12s %14s %14s %14s\n", "copy", "canonicalize", "append_string", "needle_scan");
  for (size_t c = 0; c < copies.size(); ++c) {
    std::printf("%-12s %9.0f MB/s %9.0f MB/s %9.0f MB/s\n", copies[c]->name, best[c].canonicalize,
                best[c].append_string, best[c].needle_scan);
  }
  for (size_t c = 1; c < copies.size(); ++c) {
    std::printf("%s / portable: %.2fx %.2fx %.2fx\n", copies[c]->name, best[c].canonicalize / best[0].canonicalize,
                best[c].append_string / best[0].append_string, best[c].needle_scan / best[0].needle_scan);
  }
  return 0;
}
