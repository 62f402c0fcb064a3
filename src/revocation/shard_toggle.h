// Toggling the revocation mark of the matching records of one shard.
//
// The shard is read with the lenient JSON Lines reader and, when the policy
// asks for it, written back whole: every record that was read, in order, as
// compact JSON with its keys sorted, changed or not. Lines the reader skipped
// (blank or not JSON) are gone from a rewritten shard.
//
// A rewrite never leaves a shard half-written: the new bytes go to a
// temporary file directly in the store directory (no layer scan reads it
// there) and are renamed over the shard. A failure leaves the shard as it
// was and removes the temporary file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_replacement.h"
#include "base/status.h"
#include "json/value.h"

namespace zr::revocation {

enum class RewritePolicy {
  kWhenToggled,  // rewrite only when at least one record matched
  kAlways,       // rewrite whatever was read, even when nothing matched
};

struct ShardToggle {
  bool present = false;  // false: the shard file does not exist, nothing was done
  uint64_t toggled = 0;  // matching records (each flipped once)
};

using RecordMatch = std::function<bool(const json::Value& record)>;

// Flips the mark of every record of `shard_path` that `match` selects (a
// matching record that is no object is counted but cannot carry a mark).
// `zr_dir` is the store's root; the temporary file goes into its store
// directory, which must be on the shard's file system.
base::Result<ShardToggle> toggle_revoked_in_shard(std::string_view zr_dir, const std::string& shard_path,
                                                  const RecordMatch& match, RewritePolicy policy);

// Flips the mark of every record of `records` that `match` selects; returns
// how many matched.
uint64_t toggle_revoked_in_records(std::vector<json::Value>& records, const RecordMatch& match);

// The new bytes of `shard_path` for `records`, written and flushed beside it
// (in the store directory of `zr_dir`) and added to `batch`, whose Commit
// puts them in place.
base::Status prepare_shard_rewrite(std::string_view zr_dir, const std::string& shard_path,
                                   const std::vector<json::Value>& records, base::ReplacementBatch& batch);

// The text a rewritten shard holds for `records`.
std::string shard_text(const std::vector<json::Value>& records);

}  // namespace zr::revocation
