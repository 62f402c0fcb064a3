// The line hash: the per-line cost of purging and tracking.
//
// Usage:
//   line_hash_bench --generate PATH [--size-mb N]   write the corpus and exit
//   line_hash_bench --corpus PATH [--runs N] [--hashes-out FILE] [--check-lines N]
//   line_hash_bench --corpus PATH --profile-passes N   only (a), N times, for a profiler
//
// Over every line of the mapped corpus, one core, best of --runs:
//   (a) parse + compact write + SHA-256 of each line (Parser::Canonicalize and
//       sha256_hex_into, lines split by for_each_line and parsed in place);
//   (b) raw SHA-256 over the same line bytes, the floor for any line hash.
// Throughput is the corpus's bytes over the thread's CPU time, in MB/s (10^6).
// Untimed: one pass counting heap allocations after a warm-up pass (the loop
// must allocate nothing per line), and the hashes of the first lines written
// out so that line_hash_baseline.py can check them against Python's.
#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "base/file.h"
#include "python_json_string.h"
#include "store/content_hash.h"
#include "json/parse.h"
#include "store/jsonl.h"

// --- allocation counting ----------------------------------------------------
//
// malloc and friends are replaced for the whole process (this executable's
// definitions take precedence over the C library's in every shared library),
// so the count includes allocations inside OpenSSL and the JSON library, not
// only those of operator new.

namespace {
bool g_counting = false;
uint64_t g_allocations = 0;
[[maybe_unused]] void count_allocation() {
  if (g_counting) ++g_allocations;
}
}  // namespace

// A sanitizer brings its own allocator; the count is then not taken.
#if !defined(__SANITIZE_ADDRESS__)
constexpr bool kCountsAllocations = true;

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

extern "C" {
void* malloc(size_t size) {
  count_allocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  count_allocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  count_allocation();
  return __libc_realloc(p, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  count_allocation();
  return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size) {
  count_allocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  count_allocation();
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
}
#else
constexpr bool kCountsAllocations = false;
#endif

namespace {

// --- corpus -------------------------------------------------------------------

// A fixed generator (not std:: distributions, whose output may differ between
// library versions), so that the corpus is the same everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

 private:
  uint64_t state_;
};

// Mostly plain English words, with non-ASCII text and characters that need
// escaping mixed in.
const char* const kAsciiWords[] = {
    "the",     "data",   "model", "results", "analysis", "glacier", "tide",    "comet",  "lichen", "report",
    "shows",   "noisy",  "usable", "of",     "and",      "in",      "a",       "to",     "is",     "was",
    "for",     "with",   "on",    "that",    "by",       "from",    "new",     "time",   "people", "first",
    "2024",    "100%",   "<tag>", "&amp;",   "e.g.",     "(see",    "below)",  "U.S.",   "it's",   "#1"};
const char* const kOtherWords[] = {
    "café",   "naïve", "résumé", "Straße", "über", "façade", "niño", "Ångström", "жизнь", "данные", "数据",
    "模型",   "東京",  "مرحبا",  "שלום",   "🙂",   "🚀",     "—",    "“quoted”", "a\"b", "C:\\path",
    "tab\there", "line\nbreak", "…", "αβγ"};
constexpr size_t kAsciiCount = sizeof kAsciiWords / sizeof kAsciiWords[0];
constexpr size_t kOtherCount = sizeof kOtherWords / sizeof kOtherWords[0];

const char* word(Rng& rng) {
  return rng.below(8) == 0 ? kOtherWords[rng.below(kOtherCount)] : kAsciiWords[rng.below(kAsciiCount)];
}


std::string sentence(Rng& rng, size_t words) {
  std::string s;
  for (size_t i = 0; i < words; ++i) {
    if (i) s += ' ';
    s += word(rng);
  }
  return s;
}

// A float as Python's repr writes it: shortest round-trip digits, plain
// notation when the decimal point falls within 16 digits, otherwise d.ddde-XX.
std::string python_repr(double v) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  std::string out;
  if (sci[0] == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::string_view exp_text = sci.substr(e + 1);
  if (exp_text[0] == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  int k = exponent + 1;
  int n = static_cast<int>(digits.size());
  if (k > -4 && k <= 16) {
    if (k <= 0) {
      out += "0." + std::string(static_cast<size_t>(-k), '0') + digits;
    } else if (k < n) {
      out += digits.substr(0, static_cast<size_t>(k)) + "." + digits.substr(static_cast<size_t>(k));
    } else {
      out += digits + std::string(static_cast<size_t>(k - n), '0') + ".0";
    }
  } else {
    out += digits.substr(0, 1);
    if (n > 1) out.append(".").append(digits, 1);
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
    out += tail;
  }
  return out;
}

// Scores, measurements and the odd tiny or huge value.
std::string py_float(Rng& rng) {
  size_t r = rng.below(100);
  double v;
  if (r < 40) {
    v = rng.unit();
  } else if (r < 70) {
    v = static_cast<double>(rng.below(100000)) / 100.0;
  } else if (r < 80) {
    v = static_cast<double>(rng.below(1000));
  } else if (r < 97) {
    v = -rng.unit() * 1000.0;
  } else if (r < 99) {
    v = (rng.unit() - 0.5) * 1e-6;
  } else {
    v = rng.unit() * 1e20;
  }
  return python_repr(v);
}

// One document line in the style of a crawled-text corpus, keys in
// insertion (not sorted) order, as json.dumps writes a dict.
std::string make_line(Rng& rng, uint64_t id) {
  bool ensure_ascii = rng.below(2) == 0;
  bool spaced = rng.below(4) != 0;  // json.dumps's default ", " and ": "
  const char* comma = spaced ? ", " : ",";
  const char* colon = spaced ? ": " : ":";
  std::string out = "{";
  auto key = [&](const char* k, bool first = false) {
    if (!first) out += comma;
    out += '"';
    out += k;
    out += '"';
    out += colon;
  };
  key("text", true);
  append_json_string(out, sentence(rng, 20 + rng.below(400)), ensure_ascii);
  key("id");
  out += std::to_string(id);
  key("meta");
  out += "{";
  key("source", true);
  append_json_string(out, "https://example.org/" + std::to_string(rng.below(100000)) + "/page", ensure_ascii);
  key("lang");
  static const char* kLangs[] = {"en", "de", "fr", "ru", "zh", "ja", "ar"};
  append_json_string(out, kLangs[rng.below(7)], ensure_ascii);
  key("score");
  out += py_float(rng);
  key("quality");
  out += "{";
  key("perplexity", true);
  out += py_float(rng);
  key("flagged");
  out += rng.below(10) == 0 ? "true" : "false";
  key("reviewer");
  out += rng.below(3) == 0 ? "null" : "\"" + std::string(kAsciiWords[rng.below(16)]) + "\"";
  out += "}";
  key("tags");
  out += "[";
  for (size_t i = 0, n = rng.below(5); i < n; ++i) {
    if (i) out += comma;
    append_json_string(out, word(rng), ensure_ascii);
  }
  out += "]}";
  key("n_tokens");
  out += std::to_string(rng.below(4096));
  key("embedding");
  out += "[";
  for (size_t i = 0, n = rng.below(12); i < n; ++i) {
    if (i) out += comma;
    out += py_float(rng);
  }
  out += "]";
  key("created");
  append_json_string(out, "2024-0" + std::to_string(1 + rng.below(9)) + "-1" + std::to_string(rng.below(10)) +
                              "T12:34:56Z", ensure_ascii);
  if (rng.below(4) == 0) {
    key("title");
    append_json_string(out, sentence(rng, 3 + rng.below(8)), ensure_ascii);
  }
  out += "}";
  return out;
}

int generate(const std::string& path, size_t size_mb) {
  Rng rng(0x5eed1e55);
  std::string all;
  all.reserve(size_mb * 1000000 + 10000);
  for (uint64_t id = 0; all.size() < size_mb * 1000000; ++id) {
    all += make_line(rng, id);
    all += '\n';
  }
  zr::base::Status s = zr::base::write_file(path, all);
  if (!s.ok()) {
    std::fprintf(stderr, "writing %s: %s\n", path.c_str(), s.message().c_str());
    return 1;
  }
  return 0;
}

// --- measurement ------------------------------------------------------------

struct PassResult {
  double seconds = 0;
  uint64_t lines = 0;
  uint64_t failed = 0;
  uint64_t checksum = 0;  // keeps the work observable
};

// CPU time of this thread: on a shared machine, time spent waiting for the
// core is not the loop's cost.
double thread_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename PerLine>
PassResult run_pass(std::string_view text, PerLine&& per_line) {
  PassResult r;
  double start = thread_seconds();
  zr::store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
    char hex[64];
    if (per_line(line, readable_after, hex)) {
      r.checksum += static_cast<unsigned char>(hex[0]) ^ static_cast<unsigned char>(hex[63]);
    } else {
      ++r.failed;
    }
    ++r.lines;
  });
  r.seconds = thread_seconds() - start;
  return r;
}

int measure(const std::string& path, int runs, const std::string& hashes_out, size_t check_lines,
            int profile_passes) {
  zr::base::Result<zr::base::MappedFile> file = zr::base::MappedFile::Open(path);
  if (!file.ok()) {
    std::fprintf(stderr, "opening %s: %s\n", path.c_str(), file.status().message().c_str());
    return 1;
  }
  std::string_view text = file->view();
  double megabytes = static_cast<double>(text.size()) / 1e6;

  zr::json::Parser parser;
  std::string canonical;
  auto line_hash = [&](std::string_view line, size_t readable_after, char* hex) {
    if (!parser.Canonicalize(line, readable_after, canonical)) return false;
    zr::store::sha256_hex_into(canonical, hex);
    return true;
  };
  auto raw_hash = [](std::string_view line, size_t, char* hex) {
    zr::store::sha256_hex_into(line, hex);
    return true;
  };

  if (profile_passes > 0) {
    // Only the line hash, for a profiler to look at.
    for (int i = 0; i < profile_passes; ++i) run_pass(text, line_hash);
    return 0;
  }

  // Warm-up (page cache, parser buffers), then an untimed pass counting
  // every heap allocation.
  // The first pass, with fresh buffers, shows that the count works.
  g_allocations = 0;
  g_counting = true;
  PassResult warm = run_pass(text, line_hash);
  uint64_t cold_allocations = g_allocations;
  g_allocations = 0;
  run_pass(text, line_hash);
  g_counting = false;
  uint64_t allocations = g_allocations;
  run_pass(text, raw_hash);

  double best_a = 1e300, best_b = 1e300;
  for (int i = 0; i < runs; ++i) {
    best_a = std::min(best_a, run_pass(text, line_hash).seconds);
    best_b = std::min(best_b, run_pass(text, raw_hash).seconds);
  }

  if (!hashes_out.empty()) {
    std::string out;
    size_t written = 0;
    zr::store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
      if (written >= check_lines) return;
      char hex[64];
      if (line_hash(line, readable_after, hex)) {
        out.append(hex, 64);
      } else {
        out += "invalid";
      }
      out += '\n';
      ++written;
    });
    zr::base::Status s = zr::base::write_file(hashes_out, out);
    if (!s.ok()) {
      std::fprintf(stderr, "writing %s: %s\n", hashes_out.c_str(), s.message().c_str());
      return 1;
    }
  }

  std::printf("corpus_bytes=%zu\n", text.size());
  std::printf("lines=%" PRIu64 "\n", warm.lines);
  std::printf("invalid_lines=%" PRIu64 "\n", warm.failed);
  if (kCountsAllocations) {
    std::printf("allocations_first_pass=%" PRIu64 "\n", cold_allocations);
    std::printf("allocations_per_warm_pass=%" PRIu64 "\n", allocations);
  } else {
    std::printf("allocations_first_pass=not counted\n");
    std::printf("allocations_per_warm_pass=not counted\n");
  }
  std::printf("a_mbps=%.1f\n", megabytes / best_a);
  std::printf("b_mbps=%.1f\n", megabytes / best_b);
  std::printf("checksum=%" PRIu64 "\n", warm.checksum);
  return warm.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string generate_path, corpus_path, hashes_out;
  size_t size_mb = 64, check_lines = 1000;
  int runs = 3;
  int profile_passes = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value == nullptr) {
      std::fprintf(stderr, "%s needs a value\n", argv[i]);
      return 2;
    }
    if (arg == "--generate") {
      generate_path = value;
    } else if (arg == "--size-mb") {
      size_mb = std::strtoul(value, nullptr, 10);
    } else if (arg == "--corpus") {
      corpus_path = value;
    } else if (arg == "--runs") {
      runs = std::atoi(value);
    } else if (arg == "--hashes-out") {
      hashes_out = value;
    } else if (arg == "--profile-passes") {
      profile_passes = std::atoi(value);
    } else if (arg == "--check-lines") {
      check_lines = std::strtoul(value, nullptr, 10);
    } else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return 2;
    }
    ++i;
  }
  if (!generate_path.empty()) return generate(generate_path, size_mb);
  if (corpus_path.empty()) {
    std::fprintf(stderr, "usage: %s --generate PATH [--size-mb N] | --corpus PATH [--runs N] [--hashes-out FILE]\n",
                 argv[0]);
    return 2;
  }
  return measure(corpus_path, runs < 1 ? 1 : runs, hashes_out, check_lines, profile_passes);
}
