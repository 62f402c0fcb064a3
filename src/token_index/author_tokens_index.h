// The index side of an author's token total: reading only the entries that
// the token binary index lists under a set of sources.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "token_index/token_bin_reader.h"
#include "token_index/token_index_entry.h"

namespace zr::token_index {

// The entries listed under any of `sources` that the index does not mark
// revoked, read from their lines in the chunk files of the merged directory
// and kept when valid and naming one of `sources` exactly; ascending by entry
// number. nullopt when the index turns out to be damaged, so the caller can
// answer from the chunk files instead. Mapping a chunk file is an error.
base::Result<std::optional<std::vector<TokenIndexEntry>>> entries_from_index(std::string_view zr_dir,
                                                                             std::string_view tokenizer,
                                                                             const TokenBinIndex& index,
                                                                             const std::vector<std::string>& sources);

}  // namespace zr::token_index
