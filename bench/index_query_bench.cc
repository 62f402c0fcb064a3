// show_by_author on a large store: the indexed path (index.bin present)
// against the scan path (index.bin moved aside), and the scan path with the
// worker pool at 1 and at 2 threads, all in one run.
//
// Usage: index_query_bench <zr_dir> [lines=1000000] [sections=10000] [repetitions=5]
// Creates the store under <zr_dir> unless it already holds one of the
// requested size, then builds the index. The author sought has two ids (two
// e-mails), one section per id, and 8 tracked lines, so its lines sit in at
// most 8 of the 256 document shards; every other line names one or two of
// the other sections.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/worker_pool.h"
#include "index/attribution_queries.h"
#include "index/index_build.h"
#include "registry/author.h"
#include "registry/section.h"
#include "store/init.h"
#include "store/store_paths.h"
#include "tracking/document_record.h"

namespace {

constexpr const char* kSought = "Sought Author";
constexpr size_t kAuthors = 5000;
constexpr size_t kSoughtLines = 8;

std::string random_hex(std::mt19937_64& rng) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(64, '0');
  for (size_t i = 0; i < 64; i += 16) {
    uint64_t bits = rng();
    for (size_t j = 0; j < 16; ++j, bits >>= 4) hex[i + j] = kHex[bits & 0xF];
  }
  return hex;
}

bool fail(const char* what, const zr::base::Status& s) {
  std::fprintf(stderr, "%s: %s\n", what, s.ToString().c_str());
  return false;
}

// Appends `line` to the text of its shard (by the first two characters of `key`).
void add(std::vector<std::string>& shards, const std::string& key, const std::string& line) {
  shards[std::stoi(key.substr(0, 2), nullptr, 16)] += line;
}

bool write_layer(const std::string& zr_dir, std::string_view layer, const std::vector<std::string>& shards) {
  for (int shard = 0; shard < 256; ++shard) {
    char name[3];
    std::snprintf(name, sizeof name, "%02x", shard);
    if (zr::base::Status s =
            zr::base::write_file(zr::base::path_join(zr::store::store_path(zr_dir, layer), name), shards[shard]);
        !s.ok()) {
      return fail("write", s);
    }
  }
  return true;
}

bool create_store(const std::string& zr_dir, size_t lines, size_t sections) {
  const std::string marker = zr::store::store_path(zr_dir, "bench-size");
  const std::string size = std::to_string(lines) + "/" + std::to_string(sections);
  if (zr::base::Result<zr::base::MappedFile> m = zr::base::MappedFile::Open(marker); m.ok() && m->view() == size)
    return true;
  if (zr::base::Status s = zr::store::init_store(zr_dir); !s.ok()) return fail("init", s);
  std::mt19937_64 rng(20240612);

  std::vector<std::string> author_shards(256), section_shards(256), document_shards(256);
  std::vector<std::string> ids;
  for (size_t k = 0; k < kAuthors; ++k) {
    std::string name = "Author ";
    name.append(std::to_string(k));
    std::string email = "a";
    email.append(std::to_string(k)).append("@example.org");
    zr::registry::Author a{"", name, email, false};
    a.id = zr::registry::author_id(a.name, a.email);
    add(author_shards, a.id, zr::registry::author_line(a));
    ids.push_back(a.id);
  }
  std::vector<std::string> sought_sections;
  for (const char* email : {"one@example.org", "two@example.org"}) {
    zr::registry::Author a{zr::registry::author_id(kSought, email), kSought, email, false};
    add(author_shards, a.id, zr::registry::author_line(a));
    zr::registry::Section s{"", "sought/" + std::string(email), {a.id}, {}, "MIT", "2024"};
    s.section_hash = zr::registry::section_hash_of(s.path, s.authors, s.contributors, s.license, s.year);
    add(section_shards, s.section_hash, zr::registry::section_line(s));
    sought_sections.push_back(s.section_hash);
  }
  std::vector<std::string> hashes;
  for (size_t i = 0; i < sections; ++i) {
    zr::registry::Section s{"", "docs/" + std::to_string(i) + ".md", {}, {}, i % 7 ? "MIT" : "Apache-2.0", "2024"};
    for (size_t n = 1 + rng() % 3; n > 0; --n) s.authors.push_back(ids[rng() % ids.size()]);
    s.section_hash = zr::registry::section_hash_of(s.path, s.authors, s.contributors, s.license, s.year);
    add(section_shards, s.section_hash, zr::registry::section_line(s));
    hashes.push_back(s.section_hash);
  }
  for (size_t i = 0; i < lines; ++i) {
    std::vector<std::string> sources = {hashes[rng() % hashes.size()]};
    if (rng() % 10 < 3) sources.push_back(hashes[rng() % hashes.size()]);
    if (i < kSoughtLines) sources = {sought_sections[i % 2]};
    const std::string line_hash = random_hex(rng);
    add(document_shards, line_hash,
        zr::tracking::document_line(line_hash, "data/part-" + std::to_string(i % 16) + ".jsonl", sources, "track"));
  }
  if (!write_layer(zr_dir, zr::store::kAuthorsLayer, author_shards) ||
      !write_layer(zr_dir, zr::store::kSectionsLayer, section_shards) ||
      !write_layer(zr_dir, zr::store::kDocumentIndexLayer, document_shards)) {
    return false;
  }
  if (auto built = zr::index::build_index(zr_dir); !built.ok()) return fail("build_index", built.status());
  return zr::base::write_file(marker, size).ok();
}

double cpu_ms() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Timing {
  double min_ms = 0;
  double median_ms = 0;
  double cpu_ms_per_query = 0;      // all threads: shows the work, whatever else runs
  std::vector<std::string> result;  // records as sorted text, to compare the paths
};

Timing time_query(const std::string& zr_dir, int repetitions) {
  Timing t;
  std::vector<double> ms;
  const double cpu_start = cpu_ms();
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    auto records = zr::index::show_by_author(zr_dir, kSought);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!records.ok()) {
      fail("show_by_author", records.status());
      std::exit(1);
    }
    t.result.clear();
    for (const auto& rec : *records) {
      std::string text = rec.line_hash + " " + rec.file;
      for (const auto& s : rec.sources) text += " " + s;
      t.result.push_back(text);
    }
    std::sort(t.result.begin(), t.result.end());
  }
  t.cpu_ms_per_query = (cpu_ms() - cpu_start) / repetitions;
  std::sort(ms.begin(), ms.end());
  t.min_ms = ms.front();
  t.median_ms = ms[ms.size() / 2];
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <zr_dir> [lines] [sections] [repetitions]\n", argv[0]);
    return 2;
  }
  const std::string zr_dir = argv[1];
  const size_t lines = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const size_t sections = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10000;
  const int repetitions = argc > 4 ? std::atoi(argv[4]) : 5;
  if (!create_store(zr_dir, lines, sections)) return 1;

  const std::string index_bin = zr::store::store_path(zr_dir, "index.bin");
  const std::string moved = zr::store::store_path(zr_dir, "bench-index.bin");
  const Timing indexed = time_query(zr_dir, repetitions * 4);
  std::set<std::string> shards;
  for (const std::string& r : indexed.result) shards.insert(r.substr(0, 2));

  if (std::rename(index_bin.c_str(), moved.c_str()) != 0) return 1;
  zr::base::WorkerPool::SetThreadCountForTesting(1);
  const Timing scan1 = time_query(zr_dir, repetitions);
  zr::base::WorkerPool::SetThreadCountForTesting(2);
  const Timing scan2 = time_query(zr_dir, repetitions);
  zr::base::WorkerPool::SetThreadCountForTesting(0);
  if (std::rename(moved.c_str(), index_bin.c_str()) != 0) return 1;

  const bool agree = indexed.result == scan1.result && scan1.result == scan2.result;
  std::printf("store: %zu lines, %zu sections; author %s: %zu lines in %zu of 256 document shards\n", lines, sections,
              kSought, indexed.result.size(), shards.size());
  std::printf("%-28s %10s %10s %10s\n", "", "min ms", "median ms", "cpu ms");
  for (const auto& [label, t] : {std::pair<const char*, const Timing*>{"indexed path", &indexed},
                                 {"scan path, pool 1 thread", &scan1},
                                 {"scan path, pool 2 threads", &scan2}}) {
    std::printf("%-28s %10.2f %10.2f %10.2f\n", label, t->min_ms, t->median_ms, t->cpu_ms_per_query);
  }
  std::printf("indexed vs scan (2 threads): %.1fx (target 10x)\n", scan2.median_ms / indexed.median_ms);
  std::printf("scan 2 threads vs 1 thread: %.2fx (target 1.6x)\n", scan1.median_ms / scan2.median_ms);
  std::printf("results of the three runs agree: %s\n", agree ? "yes" : "NO");
  return agree ? 0 : 1;
}
