// Where the time of one track call goes, below the Python boundary.
//
// Usage: tracking_track_bench [calls]
//
// Times, per call, on realistic records: the whole native operation, its
// pieces (hashing, the document-index append, the token-entry append), the
// bare system calls those appends make, and the store-directory check that
// the token entry makes. The Python-side figures (json.dumps and the call
// overhead) come from tracking_track_bench.py.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/file_system.h"
#include "store/content_hash.h"
#include "store/init.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/store_paths.h"
#include "token_index/pid_file.h"
#include "token_index/token_index_names.h"
#include "tracking/document_index.h"
#include "tracking/document_record.h"
#include "tracking/track.h"

namespace {

std::vector<std::string> make_record_texts(size_t count) {
  static const char* kWords[] = {"glacier", "tide",   "comet", "lichen",  "sourdough", "bee",
                                 "sketch",  "report", "café",  "naïve",   "résumé",    "—",
                                 "data",    "shows",  "noisy", "results", "usable",    "analysis"};
  std::mt19937 rng(7);
  std::vector<std::string> texts;
  texts.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string text;
    size_t words = 30 + rng() % 91;
    for (size_t w = 0; w < words; ++w) {
      if (w > 0) text.push_back(' ');
      text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    }
    texts.push_back("{\"id\": " + std::to_string(i) + ", \"text\": \"" + text +
                    "\", \"meta\": {\"lang\": \"en\", \"score\": 0." + std::to_string(rng() % 1000) +
                    ", \"source\": \"crawl-" + std::to_string(rng() % 100) + "\"}, \"tags\": [\"tides\", \"bees\"]}");
  }
  return texts;
}

template <typename Fn>
double per_call_us(size_t calls, Fn&& fn) {
  auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < calls; ++i) fn(i);
  std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / static_cast<double>(calls);
}

void check(const zr::base::Status& status) {
  if (!status.ok()) {
    std::fprintf(stderr, "failed: %s\n", status.ToString().c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t calls = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
  char dir_template[] = "/tmp/zr-track-bench-XXXXXX";
  if (::mkdtemp(dir_template) == nullptr) return 1;
  const std::string root = dir_template;
  const std::vector<std::string> sources = {zr::store::sha256_hex("section-a"), zr::store::sha256_hex("section-b")};

  std::vector<zr::json::Value> values;
  std::vector<std::string> compacts;
  zr::json::Parser parser;
  for (const std::string& text : make_record_texts(calls)) {
    values.push_back(*parser.Parse(text));
    compacts.push_back(zr::json::to_compact(values.back()));
  }
  std::vector<std::string> hashes;
  for (const auto& v : values) hashes.push_back(zr::store::content_hash(v));

  auto fresh_store = [&](const char* name) {
    std::string path = zr::base::path_join(root, name);
    check(zr::store::init_store(path));
    return path;
  };

  const std::string full = fresh_store("full");
  double t_track = per_call_us(calls, [&](size_t i) {
    check(zr::tracking::track(compacts[i], "data/train.jsonl", sources, full, 50 + i % 400, "tk").status());
  });
  double t_hash = per_call_us(calls, [&](size_t i) { hashes[i] = zr::store::content_hash(values[i]); });
  const std::string docs = fresh_store("docs");
  double t_doc = per_call_us(calls, [&](size_t i) {
    check(zr::tracking::index_document(docs, hashes[i], "data/train.jsonl", sources, "track"));
  });
  const std::string tokens = fresh_store("tokens");
  double t_token = per_call_us(calls, [&](size_t i) {
    check(zr::token_index::token_index_write_pid(tokens, "tk", 50 + i % 400, sources));
  });
  const std::string store = zr::store::store_dir(full);
  double t_mkdir = per_call_us(calls, [&](size_t) { check(zr::base::make_directories(store)); });

  // The bare system calls of the two appends: open in append mode, one
  // write, close, for a line of each kind (paths and lines made up front).
  const std::string raw = fresh_store("raw");
  std::vector<std::string> doc_paths, doc_lines;
  for (size_t i = 0; i < calls; ++i) {
    doc_paths.push_back(*zr::store::shard_path(raw, zr::store::kDocumentIndexLayer, hashes[i]));
    doc_lines.push_back(zr::tracking::document_line(hashes[i], "data/train.jsonl", sources, "track"));
  }
  const std::string token_path = zr::token_index::pid_file_path(raw, "tk", static_cast<uint32_t>(::getpid()));
  const std::string token_line =
      "{\"token_count\":123,\"sources\":[\"" + sources[0] + "\",\"" + sources[1] + "\"],\"tokenizer\":\"tk\",\"revoked\":false}\n";
  auto append = [](const std::string& path, const std::string& line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::exit(1);
    ::close(fd);
  };
  double t_syscalls = per_call_us(calls, [&](size_t i) {
    append(doc_paths[i], doc_lines[i]);
    (void)::getpid();
    append(token_path, token_line);
  });

  std::printf("native track pieces, %zu calls (us per call)\n", calls);
  std::printf("  track (whole operation)         %7.2f\n", t_track);
  std::printf("    content hash                  %7.2f\n", t_hash);
  std::printf("    index_document                %7.2f\n", t_doc);
  std::printf("    token_index_write_pid         %7.2f\n", t_token);
  std::printf("      of which store-dir mkdir -p %7.2f\n", t_mkdir);
  std::printf("  bare open/write/close x2        %7.2f\n", t_syscalls);
  std::string cleanup = "rm -rf '" + root + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
