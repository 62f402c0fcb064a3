// Copying token-index entries from a source store's merged directories into
// a target's, one new chunk file per tokenizer that gains entries.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/status.h"
#include "maintenance/store_merge_layers.h"

namespace zr::maintenance {

struct TokenMergeCounts {
  uint64_t added = 0;
  uint64_t skipped = 0;
};

// For every tokenizer of the source store: creates the target's merged
// directory and writes the source's merged entries that the target lacks,
// in merged order, to a chunk file numbered after the target's largest.
// An entry's identity is its token count, its tokenizer and its sources in
// ascending byte order; the revoked mark is not part of it. Entries still
// in the source's per-process files are not seen. `route` as for
// merge_layer.
class EntryReader;

// A walk over source entries: calls `entry()` once for each valid entry,
// in order, right after `reader` has read it.
using EntryWalk = std::function<base::Status(EntryReader& reader, const std::function<base::Status()>& entry)>;

// Writes to one new chunk file of the target's merged directory for
// `tokenizer` (created when missing) the entries of `walk_source` whose
// identity the target's entries, or an earlier entry of the walk, lack.
base::Result<TokenMergeCounts> absorb_token_entries(std::string_view target, std::string_view tokenizer,
                                                    MergeRoute route, const EntryWalk& walk_source);

base::Result<TokenMergeCounts> merge_token_entries(std::string_view source, std::string_view target,
                                                   MergeRoute route = MergeRoute::kQuick);

}  // namespace zr::maintenance
