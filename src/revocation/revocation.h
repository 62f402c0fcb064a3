// Revoking and un-revoking: each operation flips the "revoked" mark of the
// records it selects and returns how many it flipped.
//
// Every operation is a toggle; `reverse` does not change what is done, only
// the operation name the call is logged under, so the caller (who knows the
// current state) decides the direction. The log line is written last: an
// error before it leaves no line, an error of the log append itself leaves
// the flips done.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::revocation {

// The lines of the `sections` shard of `section_hash` whose "section_hash"
// is that string. The shard is rewritten only when something matched. No
// shard: 0, no log line. A hash that cannot name a shard is refused before
// anything is touched.
base::Result<uint64_t> revoke_section(std::string_view zr_dir, std::string_view section_hash, bool reverse);

// The lines of the `document-index` shard of `line_hash` whose "line_hash"
// and "file" are those strings. The shard is rewritten even when nothing
// matched. No shard: 0, no log line. The hash is checked as above.
base::Result<uint64_t> revoke_manifest(std::string_view zr_dir, std::string_view line_hash, std::string_view file,
                                       bool reverse);

// For each registered author with exactly this name, in registry order, the
// lines of its `authors` shard with its id (each author by itself: an author
// registered twice is flipped twice). Every shard read is rewritten. No such
// author: 0, no log line.
base::Result<uint64_t> revoke_by_author(std::string_view zr_dir, std::string_view author_name, bool reverse);

// The token-index entries of `tokenizer` with a source among the sections
// whose "authors" list one of the ids of the authors of that name.
// The flips are recorded in the chunk files, keeping every other line's
// text; a token binary index of the tokenizer is then rebuilt so that it
// agrees (a failed rebuild leaves it stale, hence unused). No such author,
// or no such section: 0, no log line.
base::Result<uint64_t> revoke_by_author_token(std::string_view zr_dir, std::string_view author_name,
                                              std::string_view tokenizer, bool reverse);

}  // namespace zr::revocation
