// Times the scan form of the author query (by name, no e-mail) over a large
// registry with the worker pool at 1 and at 2 threads.
//
// Usage: author_scan_bench <zr_dir> [records=1000000] [repetitions=5]
// Creates the registry under <zr_dir> first unless it already holds one of
// the requested size (the Python baseline then scans the very same files).
// Prints one "key=value" line per figure for bench/run_author_scan.sh.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/worker_pool.h"
#include "registry/author.h"
#include "registry/author_registry.h"
#include "store/init.h"
#include "store/store_paths.h"

namespace {

using zr::registry::Author;

// Names repeat about 20 times each over a million records, as a registry of
// people with several e-mail addresses would.
constexpr size_t kDistinctNames = 50000;
const char* const kSoughtName = "Author 12345";

std::string name_of(size_t k) { return "Author " + std::to_string(k); }

bool registry_ready(const std::string& zr_dir, size_t records) {
  std::string marker = zr::store::store_path(zr_dir, "bench-records");
  zr::base::Result<zr::base::MappedFile> file = zr::base::MappedFile::Open(marker);
  return file.ok() && file->view() == std::to_string(records);
}

bool create_registry(const std::string& zr_dir, size_t records) {
  std::string authors = zr::store::store_path(zr_dir, zr::store::kAuthorsLayer);
  zr::base::Result<zr::base::PathKind> authors_kind = zr::base::path_kind(authors);
  if (authors_kind.ok() && *authors_kind == zr::base::PathKind::kDirectory) {
    for (int shard = 0; shard < 256; ++shard) {
      char name[3];
      std::snprintf(name, sizeof name, "%02x", shard);
      (void)zr::base::remove_file(zr::base::path_join(authors, name));
    }
  }
  if (zr::base::Status s = zr::store::init_store(zr_dir); !s.ok()) {
    std::fprintf(stderr, "init: %s\n", s.ToString().c_str());
    return false;
  }
  std::vector<std::string> shards(256);
  std::mt19937_64 rng(20240611);
  for (size_t i = 0; i < records; ++i) {
    Author author;
    author.name = name_of(rng() % kDistinctNames);
    author.email = "user" + std::to_string(i) + "@example.org";
    author.id = zr::registry::author_id(author.name, author.email);
    author.revoked = (i % 97) == 0;
    shards[std::stoi(author.id.substr(0, 2), nullptr, 16)] += zr::registry::author_line(author);
  }
  for (int shard = 0; shard < 256; ++shard) {
    char name[3];
    std::snprintf(name, sizeof name, "%02x", shard);
    if (zr::base::Status s = zr::base::write_file(zr::base::path_join(authors, name), shards[shard]); !s.ok()) {
      std::fprintf(stderr, "write: %s\n", s.ToString().c_str());
      return false;
    }
  }
  return zr::base::write_file(zr::store::store_path(zr_dir, "bench-records"), std::to_string(records)).ok();
}

// CPU time of the whole process (every thread), user and system.
double process_cpu_ms() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double time_query_ms(const std::string& zr_dir, size_t& found, double* cpu_ms = nullptr) {
  double cpu_start = process_cpu_ms();
  auto start = std::chrono::steady_clock::now();
  auto result = zr::registry::authors_named(zr_dir, kSoughtName);
  auto stop = std::chrono::steady_clock::now();
  if (cpu_ms) *cpu_ms += process_cpu_ms() - cpu_start;
  if (!result.ok()) {
    std::fprintf(stderr, "query: %s\n", result.status().ToString().c_str());
    std::exit(1);
  }
  found = result->size();
  return std::chrono::duration<double, std::milli>(stop - start).count();
}

struct Stats {
  double min;
  double median;
};

Stats summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <zr_dir> [records] [repetitions]\n", argv[0]);
    return 2;
  }
  std::string zr_dir = argv[1];
  size_t records = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  int repetitions = argc > 3 ? std::atoi(argv[3]) : 5;

  if (!registry_ready(zr_dir, records)) {
    std::fprintf(stderr, "creating a registry of %zu records in %s ...\n", records, zr_dir.c_str());
    if (!create_registry(zr_dir, records)) return 1;
  }

  // Alternate the two settings so that drift (page cache, frequency) hits
  // both alike; the first query after a switch starts the workers and is
  // not timed.
  std::vector<double> times[3];
  double cpu_ms[3] = {0, 0, 0};
  size_t found = 0;
  for (int round = 0; round < 3; ++round) {
    for (size_t threads : {1, 2}) {
      zr::base::WorkerPool::SetThreadCountForTesting(threads);
      time_query_ms(zr_dir, found);
      for (int r = 0; r < repetitions; ++r) times[threads].push_back(time_query_ms(zr_dir, found, &cpu_ms[threads]));
    }
  }
  Stats one = summarise(times[1]);
  Stats two = summarise(times[2]);
  std::printf("records=%zu\n", records);
  std::printf("query_name=%s\n", kSoughtName);
  std::printf("matches=%zu\n", found);
  std::printf("cpp_1_thread_ms_min=%.2f\ncpp_1_thread_ms_median=%.2f\n", one.min, one.median);
  std::printf("cpp_2_threads_ms_min=%.2f\ncpp_2_threads_ms_median=%.2f\n", two.min, two.median);
  std::printf("speedup_2_over_1_median=%.2f\n", one.median / two.median);
  // Wall-clock figures suffer when other processes compete for the cores;
  // CPU time per query shows the work itself.
  std::printf("cpp_1_thread_cpu_ms_per_query=%.2f\n", cpu_ms[1] / static_cast<double>(times[1].size()));
  std::printf("cpp_2_threads_cpu_ms_per_query=%.2f\n", cpu_ms[2] / static_cast<double>(times[2].size()));
  return 0;
}
