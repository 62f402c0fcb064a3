// Reading a tokenizer's merged entries in merged order.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "token_index/chunk_files.h"
#include "token_index/entry_view.h"
#include "token_index/token_index_entry.h"

namespace zr::token_index {

// Where a valid entry's line lies: its chunk file, the offset of its first
// byte and its length without the line feed (a "\r" before it counted).
struct EntryLocation {
  const ChunkFile* chunk = nullptr;
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Calls fn(line, readable_after, location) for every non-empty line of
// `chunks`, valid entry or not, in merged order; `readable_after` counts the
// bytes after the line that a parser may read as padding. For readers that
// read entries their own way. A chunk that cannot be mapped, or an error
// returned by fn, ends the walk.
base::Status for_each_entry_line(
    const std::vector<ChunkFile>& chunks,
    const std::function<base::Status(std::string_view line, size_t readable_after, const EntryLocation&)>& fn);

// Calls fn(entry, location) for every valid entry of `chunks`, in merged
// order; the n-th call is entry number n. Invalid lines are skipped. A chunk
// that cannot be mapped, or an error returned by fn, ends the walk.
base::Status for_each_entry(const std::vector<ChunkFile>& chunks,
                            const std::function<base::Status(TokenIndexEntry&&, const EntryLocation&)>& fn);

// The same walk for callers that only look: each entry comes as a view into
// the mapped chunk (or into a parsed copy for lines outside the plain form),
// valid during the call, and no entry is copied.
base::Status for_each_entry_view(const std::vector<ChunkFile>& chunks,
                                 const std::function<base::Status(const EntryView&, const EntryLocation&)>& fn);

}  // namespace zr::token_index
