// Building the attribution index from scratch: the `index` layer and
// index.bin, plus every tokenizer's token binary index on the side.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::index {

struct IndexBuildCounts {
  uint64_t authors = 0;              // distinct author ids named by sections
  uint64_t sections = 0;             // distinct section hashes
  uint64_t total = 0;                // authors + sections
  uint64_t token_index_entries = 0;  // merged token-index lines with a `sources` array
};

// Rebuilds <zr_dir>/.zr/index and <zr_dir>/.zr/index.bin. Each layer file is
// mapped and read once; damaged lines and values that cannot name a shard are
// passed over. index.bin gets the line-offset table of the first "*.jsonl"
// entry of the project root in listing order. Failures of the token binary
// index rebuilds are dropped. Clears the rebuild mark (rebuild_mark.h) once
// the index holds every layer record.
base::Result<IndexBuildCounts> build_index(std::string_view zr_dir);

}  // namespace zr::index
