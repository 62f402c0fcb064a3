// The floor of bulk tracking: what no implementation of track_lines avoids,
// for bench/track_lines_bench.py.
//
// Usage: track_lines_floor_bench CANONICAL_LINES STORE_ROOT [runs]
//
// CANONICAL_LINES holds each trackable line's compact text, one per line
// (made beforehand, so no parsing is timed). Per batch of 16,384 lines, one
// core, best of the runs, in CPU time: SHA-256 of each text
// (OpenSSL, as the module hashes), its two records put together (a
// document-index line and a token entry, from fixed parts around the hash)
// in its shard's buffer, and one open-append-close per shard and for the
// token file. Prints key=value lines: the lines and the best run's CPU
// seconds.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "store/content_hash.h"
#include "store/jsonl.h"
#include "cpu_time.h"

namespace {

constexpr size_t kBatch = 16384;

void append_to(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 || !zr::base::write_all(fd, bytes).ok()) {
    std::perror(path.c_str());
    std::exit(1);
  }
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CANONICAL_LINES STORE_ROOT [runs]\n", argv[0]);
    return 2;
  }
  const std::string root = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  auto corpus = zr::base::MappedFile::Open(argv[1]);
  if (!corpus.ok()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], corpus.status().ToString().c_str());
    return 1;
  }
  std::vector<std::string_view> lines;
  zr::store::for_each_line(corpus->view(), [&](std::string_view line, size_t) { lines.push_back(line); });

  const std::string head = "{\"file\":\"data/train.jsonl\",\"line_hash\":\"";
  const std::string tail = "\",\"revoked\":false,\"source_type\":\"track\",\"sources\":[\"" + std::string(64, 'a') +
                           "\",\"" + std::string(64, 'b') + "\"]}\n";
  const std::string entry = "{\"token_count\":123,\"sources\":[\"" + std::string(64, 'a') + "\",\"" +
                            std::string(64, 'b') + "\"],\"tokenizer\":\"tk\",\"revoked\":false}\n";
  const std::string layer = root + "/.zr/document-index/";
  const std::string token_file = root + "/.zr/token-index.tk." + std::to_string(::getpid());
  static constexpr char kHex[] = "0123456789abcdef";

  double best = 1e300;
  for (int run = 0; run < runs; ++run) {
    const double start = cpu_seconds();
    std::array<std::string, 256> shards;
    std::string entries;
    for (size_t lo = 0; lo < lines.size(); lo += kBatch) {
      const size_t hi = std::min(lines.size(), lo + kBatch);
      for (size_t i = lo; i < hi; ++i) {
        char hash[64];
        zr::store::sha256_hex_into(lines[i], hash);
        std::string& shard = shards[static_cast<size_t>((hash[0] <= '9' ? hash[0] - '0' : hash[0] - 'a' + 10) * 16 +
                                                        (hash[1] <= '9' ? hash[1] - '0' : hash[1] - 'a' + 10))];
        shard.append(head).append(hash, 64).append(tail);
        entries.append(entry);
      }
      for (size_t s = 0; s < shards.size(); ++s) {
        if (shards[s].empty()) continue;
        append_to(layer + kHex[s >> 4] + kHex[s & 15], shards[s]);
        shards[s].clear();
      }
      append_to(token_file, entries);
      entries.clear();
    }
    best = std::min(best, cpu_seconds() - start);
  }
  std::printf("floor_lines=%zu\nfloor_cpu_s=%.6f\n", lines.size(), best);
  return 0;
}
