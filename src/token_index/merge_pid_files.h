// Folding per-process token-index files into the merged directory.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::token_index {

struct MergeCounts {
  uint64_t records_merged = 0;
  uint64_t files_handled = 0;  // with or without records
};

// Moves every per-process file "token-index.<tokenizer>.<digits>" of the
// store, in listing order, into a new chunk file of its own (members sorted
// by name), then deletes it. A file without records is only deleted.
base::Result<MergeCounts> token_index_merge_pid_files(std::string_view zr_dir, std::string_view tokenizer);

}  // namespace zr::token_index
