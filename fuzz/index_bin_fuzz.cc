// Arbitrary bytes as index.bin next to a small valid store, driving the
// operations that read it: the author query and the indexed purge's dry run.
// Whatever the bytes, they must answer or fail cleanly, never read outside
// the file (every read-only mapping of this build is exactly the file's
// size) or follow a damaged offset outside the chunk files.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "index/attribution_queries.h"
#include "purge/purge.h"
#include "small_store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zr::fuzz::export_seeds_if_asked(zr::fuzz::small_store());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zr::fuzz::SmallStore& store = zr::fuzz::small_store();
  zr::fuzz::write_whole_file(store.index_bin, std::string_view(reinterpret_cast<const char*>(data), size));
  for (const char* author : {"alice", "bob"}) (void)zr::index::show_by_author(store.root, author);
  (void)zr::purge::purge_by_author_indexd(store.root, "alice", store.data_file, /*dry_run=*/true);
  return 0;
}
