// Token totals by author: which merged entries of a tokenizer stem from the
// sections attributed to an author, and how many tokens they hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "token_index/token_index_entry.h"

namespace zr::token_index {

struct TokenQueryResult {
  uint64_t total_tokens = 0;  // saturates at 2^64 - 1
  uint64_t document_count = 0;
  std::vector<TokenIndexEntry> entries;  // in merged order
};

// The active entries (not revoked) with a source among the sections of every
// author named `author_name`. With a current token binary index only the
// entries it lists under those sections are read, and an entry the index
// marks revoked is left out; otherwise the chunk files are scanned and each
// entry's own flag decides. Either way an entry counts once, and only when
// one of its sources equals a section hash byte for byte.
base::Result<TokenQueryResult> show_by_author_token(std::string_view zr_dir, std::string_view author_name,
                                                    std::string_view tokenizer);

// Every valid entry of the chunk files, revoked or not, one of whose sources
// is in `sources` (byte equality), in merged order. Only lines in which a
// quoted source occurs literally are parsed.
base::Result<std::vector<TokenIndexEntry>> token_index_find_by_sources(std::string_view zr_dir,
                                                                       std::string_view tokenizer,
                                                                       const std::vector<std::string>& sources);

}  // namespace zr::token_index
