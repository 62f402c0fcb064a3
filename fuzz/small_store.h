// A small, valid store for the targets that fuzz its binary indexes: two
// authors (alice revoked), a section each, tracked lines with token counts
// for tokenizer "tk" (some entries revoked), housekeeping done and both
// binary indexes built. Built once per process in the scratch directory.
#pragma once

#include <string>

namespace zr::fuzz {

struct SmallStore {
  std::string root;             // the project root (holding .zr)
  std::string data_file;        // a data file holding the tracked lines
  std::string index_bin;        // <root>/.zr/index.bin
  std::string token_bin;        // the token binary index of "tk"
  std::string index_bin_bytes;  // their contents as built
  std::string token_bin_bytes;
};

inline constexpr const char* kTokenizer = "tk";

// The store, built on first use; aborts when it cannot be built.
const SmallStore& small_store();

// When ZR_FUZZ_EXPORT_SEEDS names a directory, writes the store's two
// binary indexes there as seeds (index.bin, token-index.bin).
void export_seeds_if_asked(const SmallStore& store);

}  // namespace zr::fuzz
