// Absorbing one project's store into another's: every author, section,
// document-index record and merged token-index entry of the source that the
// target does not hold yet is appended to the target. The source is only read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "maintenance/store_merge_layers.h"

namespace zr::maintenance {

struct StoreMergeCounts {
  uint64_t authors_added = 0;
  uint64_t sections_added = 0;
  uint64_t document_added = 0;
  uint64_t token_index_added = 0;
  uint64_t skipped = 0;  // duplicates and records that cannot be placed
};

// The detail of the "merge" log entry: the source as given, then the counts.
std::string merge_detail(std::string_view source, const StoreMergeCounts& counts);

// Records are compared by identity, not by text: a record the target holds
// under the same identity stays as it is there (revoked or not). The
// target's layers must exist; there is no rollback, and a repeated merge
// skips what an interrupted one copied. When authors, sections or document
// records were added, or an earlier merge that added some was cut short
// before its rebuild (index/rebuild_mark.h), the target's attribution index
// is rebuilt (an error of that build is dropped). Logs "merge" in the target.
base::Result<StoreMergeCounts> merge_absorb(std::string_view source, std::string_view target);

// merge_absorb reading records along `route` (see MergeRoute); every route
// gives the same result.
base::Result<StoreMergeCounts> merge_absorb_by_route(std::string_view source, std::string_view target,
                                                     MergeRoute route);

}  // namespace zr::maintenance
