// Arbitrary bytes as the token binary index of a small valid store (newer
// than its chunk files, so it is trusted), driving the operations that read
// it: the forget set and the token totals by author. Whatever the bytes,
// they must answer or fail cleanly, never read outside the file (every
// read-only mapping of this build is exactly the file's size) or follow a
// damaged entry outside the chunk files.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "small_store.h"
#include "token_index/author_tokens.h"
#include "token_index/forget_set.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zr::fuzz::export_seeds_if_asked(zr::fuzz::small_store());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zr::fuzz::SmallStore& store = zr::fuzz::small_store();
  zr::fuzz::write_whole_file(store.token_bin, std::string_view(reinterpret_cast<const char*>(data), size));
  (void)zr::token_index::generate_forget_set(store.root, zr::fuzz::kTokenizer);
  for (const char* author : {"alice", "bob"}) {
    (void)zr::token_index::show_by_author_token(store.root, author, zr::fuzz::kTokenizer);
  }
  return 0;
}
