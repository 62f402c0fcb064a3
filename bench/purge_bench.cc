// purge_revoked over a generated data file: the whole operation with the
// worker pool at 1 and 2 threads, and raw SHA-256 over the same lines (the
// floor of any line hashing), in one run.
//
// Usage:
//   purge_bench generate <dir> <size_mb>   write <dir>/pristine.jsonl and a store
//                                          whose revoked-document list names
//                                          about 10% of its lines
//   purge_bench run <dir> [repetitions]    time purges of fresh copies, print key=value
//   purge_bench once <dir>                 one purge at the default pool size; prints
//                                          the process's peak resident memory
//
// Every timed purge works on a fresh copy of pristine.jsonl (copied by the
// kernel, untimed) and finds no archive of an earlier run. Times are wall
// clock with a warm page cache.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/worker_pool.h"
#include "purge/purge.h"
#include "purge/archive.h"
#include "purge/line_sets.h"
#include "store/content_hash.h"
#include "store/init.h"
#include "store/sha256.h"
#include "json/parse.h"
#include "cpu_time.h"
#include "python_json_string.h"
#include "store/jsonl.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void die(const std::string& what, const zr::base::Status& status) {
  std::fprintf(stderr, "%s: %s\n", what.c_str(), status.ToString().c_str());
  std::exit(1);
}

// --- realistic lines --------------------------------------------------------
//
// Crawled-text style documents as a Python pipeline writes them with
// json.dumps: keys in insertion order, ", " and ": " separators, half of the
// lines with ensure_ascii escapes. Floats have few digits and no exponent,
// so Python's json.dumps writes them as the native writer does and the
// pure-Python baseline computes the very same line hashes.

const char* const kWords[] = {
    "the", "of", "and", "to", "in", "data", "model", "training", "a", "is", "for", "with", "on", "as", "that",
    "by", "this", "from", "results", "we", "method", "2024", "e.g.", "(see", "below)", "it's", "#1", "café",
    "naïve", "Straße", "über", "жизнь", "данные", "数据", "東京", "مرحبا", "🙂", "—", "“quoted”", "a\"b",
    "C:\\path", "tab\there", "line\nbreak", "αβγ"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

std::string make_line(std::mt19937_64& rng, uint64_t id) {
  auto below = [&](uint64_t n) { return rng() % n; };
  bool ascii = below(2) == 0;
  std::string text;
  for (size_t i = 0, n = 10 + below(250); i < n; ++i) {
    if (i) text += ' ';
    text += kWords[below(kWordCount)];
  }
  auto number = [&] {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%llu", static_cast<unsigned long long>(below(10000)),
                  static_cast<unsigned long long>(1 + below(99)));
    return std::string(buf);
  };
  std::string out = "{\"text\": ";
  append_json_string(out, text, ascii);
  out += ", \"id\": " + std::to_string(id);
  out += ", \"meta\": {\"source\": ";
  append_json_string(out, "https://example.org/" + std::to_string(below(100000)) + "/page", ascii);
  static const char* kLangs[] = {"en", "de", "fr", "ru", "zh", "ja", "ar"};
  out += ", \"lang\": \"" + std::string(kLangs[below(7)]) + "\", \"score\": " + number();
  out += ", \"quality\": {\"perplexity\": " + number() + ", \"flagged\": " + (below(10) ? "false" : "true") +
         ", \"reviewer\": " + (below(3) ? "null" : "\"anna\"") + "}, \"tags\": [";
  for (size_t i = 0, n = below(5); i < n; ++i) {
    if (i) out += ", ";
    append_json_string(out, kWords[below(kWordCount)], ascii);
  }
  out += "]}, \"n_tokens\": " + std::to_string(below(4096)) + ", \"embedding\": [";
  for (size_t i = 0, n = below(12); i < n; ++i) {
    if (i) out += ", ";
    out += number();
  }
  out += "], \"created\": \"2024-0" + std::to_string(1 + below(9)) + "-1" + std::to_string(below(10)) + "T12:34:56Z\"}";
  return out;
}

std::string pristine(const std::string& dir) { return dir + "/pristine.jsonl"; }
std::string data_file(const std::string& dir) { return dir + "/data.jsonl"; }

int generate(const std::string& dir, size_t size_mb) {
  fs::create_directories(dir);
  if (zr::base::Status s = zr::store::init_store(dir); !s.ok()) die("init", s);
  std::mt19937_64 rng(20240611);
  std::string all, revoked;
  zr::json::Parser parser;
  std::string canonical;
  all.reserve(size_mb * 1000000 + 10000);
  for (uint64_t id = 0; all.size() < size_mb * 1000000; ++id) {
    std::string line = make_line(rng, id);
    if (rng() % 10 == 0) {
      if (!parser.Canonicalize(line, 0, canonical)) die("generated line", zr::base::Status::Error(line));
      revoked +=
          "{\"line_hash\":\"" + zr::store::sha256_hex(canonical) + "\",\"file\":\"data.jsonl\",\"sources\":[]}\n";
    }
    all += line;
    all += '\n';
  }
  fs::create_directories(dir + "/.zr/document-index/revoked");
  if (zr::base::Status s = zr::base::write_file(zr::purge::revoked_list_path(dir), revoked); !s.ok()) die("list", s);
  if (zr::base::Status s = zr::base::write_file(pristine(dir), all); !s.ok()) die("data", s);
  std::printf("generated %.1f MB, %zu revoked\n", all.size() / 1e6, static_cast<size_t>(std::count(revoked.begin(), revoked.end(), '\n')));
  return 0;
}

// --- measurements -----------------------------------------------------------

void fresh_copy(const std::string& dir) {
  fs::copy_file(pristine(dir), data_file(dir), fs::copy_options::overwrite_existing);
  std::error_code ec;
  fs::remove_all(zr::purge::archive_dir(dir), ec);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double time_purge(const std::string& dir, zr::purge::PurgeCounts& counts) {
  fresh_copy(dir);
  auto start = std::chrono::steady_clock::now();
  auto r = zr::purge::purge_revoked(dir, data_file(dir), false);
  double t = seconds_since(start);
  if (!r.ok()) die("purge", r.status());
  counts = *r;
  return t;
}

// SHA-256 of every non-empty line (one "\r" dropped), over chunks of the
// pool like the purge's decisions.
double time_raw_sha(const std::string& text) {
  size_t chunks = zr::base::WorkerPool::ThreadCount() * 16;
  size_t step = text.size() / chunks + 1;
  std::vector<size_t> bounds{0};
  while (bounds.back() < text.size()) {
    size_t next = std::min(text.size(), bounds.back() + step);
    size_t nl = text.find('\n', next);
    bounds.push_back(nl == std::string::npos ? text.size() : nl + 1);
  }
  std::vector<unsigned char> sink(bounds.size());
  auto start = std::chrono::steady_clock::now();
  zr::base::WorkerPool::Run(bounds.size() - 1, [&](size_t c) {
    zr::store::Sha256Digest digest;
    unsigned char acc = 0;
    zr::store::for_each_line(std::string_view(text).substr(bounds[c], bounds[c + 1] - bounds[c]),
                             [&](std::string_view line, size_t) {
                               zr::store::sha256(line, digest);
                               acc ^= digest[0];
                             });
    sink[c] = acc;
  });
  return seconds_since(start);
}

// The fastest repetition: the one least disturbed by anything else running.
double best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

int run(const std::string& dir, int repetitions) {
  auto mapped = zr::base::MappedFile::Open(pristine(dir));
  if (!mapped.ok()) die("pristine", mapped.status());
  const std::string text(mapped->view());
  const double mb = text.size() / 1e6;
  std::printf("size_mb=%.1f\n", mb);
  // The two pool sizes take turns, so that whatever else runs on the
  // machine disturbs both alike; the first purge after a switch starts the
  // pool's threads and is not timed.
  zr::purge::PurgeCounts counts;
  std::vector<double> purge[3], sha[3], cpu[3];
  for (int r = 0; r < repetitions; ++r) {
    for (size_t threads : {1, 2}) {
      zr::base::WorkerPool::SetThreadCountForTesting(threads);
      time_purge(dir, counts);
      double before = cpu_seconds();
      purge[threads].push_back(time_purge(dir, counts));
      cpu[threads].push_back(cpu_seconds() - before);  // includes the untimed copy, which the kernel makes
      sha[threads].push_back(time_raw_sha(text));
    }
  }
  for (size_t threads : {1, 2}) {
    std::printf("purge_%zut_s=%.3f\nsha_%zut_s=%.3f\npurge_%zut_cpu_s=%.3f\n", threads, best(purge[threads]), threads,
                best(sha[threads]), threads, best(cpu[threads]));
  }
  std::printf("purged=%llu\nkept=%llu\n", static_cast<unsigned long long>(counts.purged),
              static_cast<unsigned long long>(counts.kept));
  return 0;
}

int once(const std::string& dir) {
  fresh_copy(dir);
  auto r = zr::purge::purge_revoked(dir, data_file(dir), false);
  if (!r.ok()) die("purge", r.status());
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak_rss_mb=%.1f\n", usage.ru_maxrss / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc == 4) return generate(argv[2], std::strtoull(argv[3], nullptr, 10));
  if (mode == "run" && argc >= 3) return run(argv[2], argc > 3 ? std::atoi(argv[3]) : 3);
  if (mode == "once" && argc == 3) return once(argv[2]);
  std::fprintf(stderr, "usage: %s generate <dir> <size_mb> | run <dir> [repetitions] | once <dir>\n", argv[0]);
  return 2;
}
