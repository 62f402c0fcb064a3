// Counting a tokenizer's merged entries, and naming a store's tokenizers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::token_index {

struct TokenStatus {
  uint64_t total_entries = 0;
  uint64_t active_entries = 0;
  uint64_t revoked_entries = 0;
  uint64_t total_tokens = 0;  // revoked entries included; saturates at 2^64 - 1
};

// Counts the valid entries of the merged directory; per-process files that
// have not been merged are not counted.
base::Result<TokenStatus> token_index_token_status(std::string_view zr_dir, std::string_view tokenizer);

// Every tokenizer that has a merged directory, a per-process file or a binary
// index in the store, sorted by bytes, without duplicates.
base::Result<std::vector<std::string>> token_index_list_tokenizers(std::string_view zr_dir);

// Adds token counts without wrapping: a total that no longer fits says so
// rather than turning small.
inline uint64_t add_tokens(uint64_t total, uint64_t count) {
  uint64_t sum = total + count;
  return sum < total ? UINT64_MAX : sum;
}

}  // namespace zr::token_index
