// Token refs of index.bin: for every key named among the sources of a merged
// token-index line, where that line is (tokenizer, chunk file, offset,
// length).
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"
#include "index/index_layer.h"

namespace zr::index {

// Adds a token ref for every source key of every merged line of every
// tokenizer of the store (tokenizers in name order, chunk files by number,
// lines in file order, sources in array order) to the entry of that key,
// creating entries for keys not there yet. Returns the number of lines that
// carry a `sources` array.
//
// index.bin holds at most 65535 payload bytes per entry, shard refs first;
// token refs beyond what fits are never built (the writer would leave them
// out anyway), so a key named by millions of lines costs a few bytes per
// line while collecting and no more than the file holds afterwards. A
// tokenizer whose name is over 255 bytes contributes no refs, nor does a
// line whose offset or length does not fit 32 bits.
base::Result<uint64_t> add_token_refs(std::string_view zr_dir, EntryList& list);

}  // namespace zr::index
