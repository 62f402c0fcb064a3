// Copying token-index entries from a source store's merged directories into
// a target's, one new chunk file per tokenizer that gains entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "token_index/token_index_entry.h"

namespace zr::removal {

// The identity of an entry: its token count, its tokenizer and its sources
// in ascending byte order. The revoked mark is not part of it.
std::string token_entry_identity(const token_index::TokenIndexEntry& entry);

struct TokenMergeCounts {
  uint64_t added = 0;
  uint64_t skipped = 0;
};

// For every tokenizer of the source store: creates the target's merged
// directory and writes the source's merged entries that the target lacks,
// in merged order, to a chunk file numbered after the target's largest.
// Entries still in the source's per-process files are not seen.
base::Result<TokenMergeCounts> merge_token_entries(std::string_view source, std::string_view target);

}  // namespace zr::removal
