// Building a tokenizer's token binary index from its merged directory.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::token_index {

// The name prefix of the temporary file an index is written to in the store
// directory; never "token-index." (which would reveal a phantom tokenizer or
// look like a per-process file).
inline constexpr std::string_view kTokenBinaryIndexTempPrefix = ".tmp-token-bin-";

struct BinaryIndexCounts {
  uint32_t entries = 0;
  uint32_t sources = 0;
};

// Writes "token-index.<tokenizer>.bin" from the valid entries of the merged
// directory, in merged order. The new file is written and verified under a
// temporary name and then renamed over the old one, so readers see either
// the old index or the whole new one. When the data exceeds the format's
// limits the build fails and removes any older index, so that readers fall
// back to the chunk files instead of trusting an index of other data.
base::Result<BinaryIndexCounts> token_index_build_binary_index(std::string_view zr_dir, std::string_view tokenizer);

// Rebuilds the tokenizer's index if it has one, dropping any error: after an
// error the old index is older than the changed chunk files and no longer
// used. For operations that change chunk files and want the index to agree.
void token_index_rebuild_binary_index_if_present(std::string_view zr_dir, std::string_view tokenizer);

}  // namespace zr::token_index
