// Housekeeping of a store: rotating an oversized operation log, folding
// per-process document-index and token-index files in, rebuilding token
// binary indexes, archiving flagged records, removing what killed writers
// left behind and emptying "split".
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::maintenance {

// A log is rotated once it is larger than this many bytes.
inline constexpr uint64_t kLogRotationThreshold = uint64_t{10} * 1024 * 1024;

struct CleanCounts {
  uint64_t document_merged = 0;
  uint64_t pid_files_deleted = 0;
  uint64_t archived_records = 0;
  uint64_t log_rotated = 0;
  uint64_t token_index_merged = 0;
  uint64_t token_index_pid_deleted = 0;
};

// Runs every housekeeping step in order; the first error ends the run and
// the steps done before it stay done. A root without a store is left alone
// (all counts 0). With `split`, an existing <zr_dir>/.zr/split is emptied.
base::Result<CleanCounts> clean(std::string_view zr_dir, bool split);

}  // namespace zr::maintenance
