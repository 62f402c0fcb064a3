#include "small_store.h"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "fuzz_support.h"
#include "index/binary_index_format.h"
#include "index/index_build.h"
#include "registry/author_registry.h"
#include "registry/section_registry.h"
#include "maintenance/clean.h"
#include "revocation/revocation.h"
#include "store/init.h"
#include "json/write.h"
#include "token_index/token_index_names.h"
#include "tracking/track.h"

namespace zr::fuzz {

namespace {

using base::MappedFile;
using base::Result;
using base::Status;
using base::path_join;

template <typename T>
T must(Result<T> result, std::string_view step) {
  if (!result.ok()) fail(std::string(step) + ": " + result.status().message(), "");
  return std::move(*result);
}

void must(Status status, std::string_view step) {
  if (!status.ok()) fail(std::string(step) + ": " + status.message(), "");
}

std::string read_file(const std::string& path) {
  MappedFile file = must(MappedFile::Open(path), "reading " + path);
  return std::string(file.view());
}

SmallStore build() {
  SmallStore store;
  store.root = path_join(scratch_dir(), "project");
  store.data_file = path_join(store.root, "data.jsonl");
  must(store::init_store(store.root), "init_store");

  const std::string alice = must(registry::author_add(store.root, "alice", "alice@example.org"), "author_add");
  const std::string bob = must(registry::author_add(store.root, "bob", "bob@example.org"), "author_add");
  const std::string alice_section =
      must(registry::register_section(store.root, "data.jsonl", {alice}, {}, "MIT", "2024"), "register_section");
  const std::string shared_section = must(
      registry::register_section(store.root, "data.jsonl", {bob, alice}, {"carol"}, "CC0", "2025"), "register_section");
  const std::string bob_section =
      must(registry::register_section(store.root, "other.jsonl", {bob}, {}, "MIT", "2024"), "register_section");

  std::string data;
  for (int i = 0; i < 12; ++i) {
    json::Value line = json::Value::MakeObject();
    line.set("n", json::Value::Unsigned(static_cast<uint64_t>(i)));
    line.set("text", json::Value::String(std::string(static_cast<size_t>(i), 'x')));
    std::vector<std::string> sources = {i % 3 == 0 ? alice_section : i % 3 == 1 ? shared_section : bob_section};
    if (i == 4) sources.push_back("not-a-hash");
    const std::string compact = json::to_compact(line);
    must(tracking::track(compact, "data.jsonl", sources, store.root, static_cast<uint64_t>(10 + i), kTokenizer),
         "track");
    data += compact + "\n";
  }
  write_whole_file(store.data_file, data);

  must(maintenance::clean(store.root, false), "clean");
  must(revocation::revoke_by_author_token(store.root, "bob", kTokenizer, false), "revoke_by_author_token");
  must(index::build_index(store.root), "build_index");
  // Purging by author needs a revoked author; nothing else reads the mark.
  must(revocation::revoke_by_author(store.root, "alice", false), "revoke_by_author");

  store.index_bin = index::binary_index_file_path(store.root);
  store.token_bin = token_index::binary_index_path(store.root, kTokenizer);
  store.index_bin_bytes = read_file(store.index_bin);
  store.token_bin_bytes = read_file(store.token_bin);
  return store;
}

}  // namespace

const SmallStore& small_store() {
  static const SmallStore store = build();
  return store;
}

void export_seeds_if_asked(const SmallStore& store) {
  const char* dir = std::getenv("ZR_FUZZ_EXPORT_SEEDS");
  if (dir == nullptr || *dir == '\0') return;
  write_whole_file(path_join(dir, "index.bin"), store.index_bin_bytes);
  write_whole_file(path_join(dir, "token-index.bin"), store.token_bin_bytes);
}

}  // namespace zr::fuzz
