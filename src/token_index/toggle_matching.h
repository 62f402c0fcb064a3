// Revocation by sources: inverting the revoked flag of the entries that name
// one of a set of sources, in the chunk files themselves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::token_index {

// Flips every valid entry with a source in `target_sources` (byte equality),
// once however many of its sources match. Chunk files are re-read as JSON
// records: a file with a change is rewritten whole, every record as compact
// JSON with sorted members (a flipped entry keeps only its four members;
// unparseable lines are dropped); other files are untouched.
base::Result<uint64_t> token_index_revoke_by_sources(std::string_view zr_dir, std::string_view tokenizer,
                                                     const std::vector<std::string>& target_sources);

// The same flip, keeping the text of every line it does not change: only
// lines where a quoted target occurs literally are parsed, and a flipped
// entry is written back in its stored member order. Empty lines disappear
// and every line of a rewritten file ends in "\n". Used by revocation by
// author, which must leave unrelated lines byte for byte.
base::Result<uint64_t> token_index_toggle_matching(std::string_view zr_dir, std::string_view tokenizer,
                                                   const std::vector<std::string>& target_sources);

}  // namespace zr::token_index
