// The token binary index against the chunk files it stands in for.
//
// Usage: token_index_bench [--dir PATH] [--entries N ...] [--keep]
//
// For each entry count (default 250000, 500000, 1000000) a store is generated
// with 10,000 entries per chunk file (100 chunks for a million), each entry
// naming 1 to 3 of 50,000 section hashes, 1 % of them revoked, written as the
// merge writes them. Then, one core, files in the page cache:
//   build      token_index_build_binary_index, best of 2 (per-entry cost shows
//              whether it is linear);
//   mask       the revoked bit mask read from a current index (open + is
//              current + mask, the forget set's fast path), against
//              (a) the scan of every chunk file parsing each entry (the scan
//                  path, which counts valid entries only), and
//              (b) a textual scan for "revoked":true without parsing, the
//                  cheapest scan possible;
//   lookup     the entries naming one source: open + lookup from the index,
//              against the chunk-file scan that parses only candidate lines.
// Ratios are baseline time over index time.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/file_system.h"
#include "store/content_hash.h"
#include "store/jsonl.h"
#include "token_index/chunk_files.h"
#include "token_index/read_entries.h"
#include "token_index/source_patterns.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_bin_reader.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"
#include "cpu_time.h"

namespace ti = zr::token_index;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kEntriesPerChunk = 10000;
constexpr int kSections = 50000;
const char* kTokenizer = "bench";

void check(const zr::base::Status& status, const char* what) {
  if (!status.ok()) {
    std::fprintf(stderr, "%s: %s\n", what, status.ToString().c_str());
    std::exit(1);
  }
}

// Time this process spent on a CPU: steadier than wall time on a shared machine.
template <typename Fn>
double best_seconds(int runs, Fn&& fn) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

std::vector<std::string> section_hashes() {
  std::vector<std::string> hashes;
  hashes.reserve(kSections);
  for (int i = 0; i < kSections; ++i) hashes.push_back(zr::store::sha256_hex("section " + std::to_string(i)));
  return hashes;
}

void generate(const std::string& root, uint64_t entries, const std::vector<std::string>& hashes) {
  std::string merged = root + "/.zr/token-index." + kTokenizer;
  check(zr::base::make_directories(merged), "creating the merged directory");
  std::mt19937_64 rng(entries);
  for (uint64_t chunk = 1; chunk * kEntriesPerChunk <= entries; ++chunk) {
    std::string text;
    for (uint64_t i = 0; i < kEntriesPerChunk; ++i) {
      ti::TokenIndexEntry entry;
      entry.token_count = 20 + rng() % 2000;
      int n = 1 + static_cast<int>(rng() % 3);
      for (int s = 0; s < n; ++s) entry.sources.push_back(hashes[rng() % hashes.size()]);
      entry.tokenizer = kTokenizer;
      entry.revoked = rng() % 100 == 0;
      text += ti::entry_line_sorted(entry);
    }
    check(zr::base::write_file(merged + "/" + ti::chunk_file_name(chunk), text), "writing a chunk");
  }
}

std::string scan_mask_parsing(const std::vector<ti::ChunkFile>& chunks) {
  std::string mask;
  uint64_t n = 0;
  check(ti::for_each_entry(chunks,
                           [&](ti::TokenIndexEntry&& entry, const ti::EntryLocation&) {
                             if (n % 8 == 0) mask.push_back('\0');
                             if (entry.revoked) mask.back() = static_cast<char>(mask.back() | (1 << (n % 8)));
                             ++n;
                             return zr::base::Status();
                           }),
        "scanning");
  return mask;
}

std::string scan_mask_textual(const std::vector<ti::ChunkFile>& chunks) {
  std::string mask;
  uint64_t n = 0;
  for (const ti::ChunkFile& chunk : chunks) {
    zr::base::Result<zr::base::MappedFile> file = zr::base::MappedFile::Open(chunk.path);
    check(file.status(), "mapping a chunk");
    zr::store::for_each_line(file->view(), [&](std::string_view line, size_t) {
      if (n % 8 == 0) mask.push_back('\0');
      if (line.find("\"revoked\":true") != std::string_view::npos) {
        mask.back() = static_cast<char>(mask.back() | (1 << (n % 8)));
      }
      ++n;
    });
  }
  return mask;
}

uint64_t scan_find(const std::vector<ti::ChunkFile>& chunks, const std::string& source) {
  ti::SourcePatterns patterns({source});
  zr::json::Parser parser;
  uint64_t found = 0;
  for (const ti::ChunkFile& chunk : chunks) {
    zr::base::Result<zr::base::MappedFile> file = zr::base::MappedFile::Open(chunk.path);
    check(file.status(), "mapping a chunk");
    zr::store::for_each_line(file->view(), [&](std::string_view line, size_t readable_after) {
      if (!patterns.HasCandidate(line)) return;
      std::optional<ti::TokenIndexEntry> entry = ti::parse_entry_line(parser, line, readable_after);
      if (entry && patterns.names_target(*entry)) ++found;
    });
  }
  return found;
}

void run(const std::string& root, uint64_t entries, const std::vector<std::string>& hashes) {
  generate(root, entries, hashes);
  zr::base::Result<std::vector<ti::ChunkFile>> chunks = ti::token_index_chunk_files(root, kTokenizer);
  check(chunks.status(), "listing chunks");
  uint64_t chunk_bytes = 0;
  for (const ti::ChunkFile& c : *chunks) chunk_bytes += std::filesystem::file_size(c.path);

  ti::BinaryIndexCounts counts;
  double build_cpu = 1e30;
  double build = best_seconds(2, [&] {
    double start = cpu_seconds();
    auto r = ti::token_index_build_binary_index(root, kTokenizer);
    check(r.status(), "building");
    counts = *r;
    build_cpu = std::min(build_cpu, cpu_seconds() - start);
  });
  uint64_t index_bytes = std::filesystem::file_size(root + "/.zr/token-index." + kTokenizer + ".bin");
  // Make sure the index is strictly newer than the chunks, as after a clean.
  std::filesystem::last_write_time(root + "/.zr/token-index." + kTokenizer + ".bin",
                                   std::filesystem::file_time_type::clock::now() + std::chrono::seconds(1));

  std::string from_index;
  double mask_index = best_seconds(20, [&] {
    auto opened = ti::TokenBinIndex::Open(root, kTokenizer);
    check(opened.status(), "opening");
    if (!opened->has_value() || !(*opened)->IsCurrent()) {
      std::fprintf(stderr, "index missing or not current\n");
      std::exit(1);
    }
    from_index = (*opened)->RevokedBitMask();
  });
  std::string parsed, textual;
  double mask_parse = best_seconds(2, [&] { parsed = scan_mask_parsing(*chunks); });
  double mask_text = best_seconds(3, [&] { textual = scan_mask_textual(*chunks); });
  if (parsed != from_index || textual != from_index) {
    std::fprintf(stderr, "masks differ\n");
    std::exit(1);
  }

  std::mt19937 rng(7);
  const int lookups = 1000;
  uint64_t hits = 0;
  double lookup_index = best_seconds(1, [&] {
    for (int i = 0; i < lookups; ++i) {
      auto opened = ti::TokenBinIndex::Open(root, kTokenizer);
      check(opened.status(), "opening");
      auto found = (*opened)->LookupSources(ti::source_keys({hashes[rng() % hashes.size()]}));
      check(found.status(), "looking up");
      hits += found->size();
    }
  }) / lookups;
  const std::string& probe = hashes[12345];
  auto opened = ti::TokenBinIndex::Open(root, kTokenizer);
  size_t expected = (*opened)->LookupSources(ti::source_keys({probe}))->size();
  uint64_t scanned = 0;
  double lookup_scan = best_seconds(2, [&] { scanned = scan_find(*chunks, probe); });
  if (scanned != expected) {
    std::fprintf(stderr, "lookup differs: %" PRIu64 " vs %zu\n", scanned, expected);
    std::exit(1);
  }

  std::printf("\n%" PRIu64 " entries in %zu chunk files (%.1f MB), %u sources\n", entries, chunks->size(),
              chunk_bytes / 1e6, counts.sources);
  std::printf("  build             %8.3f s   %6.0f ns/entry   (CPU %.3f s)   index %.1f MB\n", build,
              build / entries * 1e9, build_cpu, index_bytes / 1e6);
  std::printf("  mask from index   %8.3f ms\n", mask_index * 1e3);
  std::printf("  mask, parse scan  %8.3f ms   ratio %6.0fx\n", mask_parse * 1e3, mask_parse / mask_index);
  std::printf("  mask, text scan   %8.3f ms   ratio %6.0fx\n", mask_text * 1e3, mask_text / mask_index);
  std::printf("  lookup from index %8.3f us   (open + lookup, %.1f entries per source on average)\n",
              lookup_index * 1e6, static_cast<double>(hits) / lookups);
  std::printf("  lookup, scan      %8.3f ms   ratio %6.0fx\n", lookup_scan * 1e3, lookup_scan / lookup_index);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = std::filesystem::temp_directory_path().string();
  std::vector<uint64_t> sizes;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
      dir = argv[++i];
    } else if (std::strcmp(argv[i], "--entries") == 0 && i + 1 < argc) {
      sizes.push_back(std::strtoull(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--dir PATH] [--entries N ...] [--keep]\n", argv[0]);
      return 2;
    }
  }
  if (sizes.empty()) sizes = {250000, 500000, 1000000};
  std::vector<std::string> hashes = section_hashes();
  for (uint64_t entries : sizes) {
    std::string root = dir + "/zr-token-bench-" + std::to_string(entries);
    std::filesystem::remove_all(root);
    run(root, entries, hashes);
    if (!keep) std::filesystem::remove_all(root);
  }
  return 0;
}
