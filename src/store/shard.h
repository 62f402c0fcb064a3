// Reading layers: one shard, or every shard of a layer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "json/value.h"

namespace zr::store {

// Every parseable line of the shard of `hash` in `layer` (lines of other
// hashes that share the shard included).
base::Result<std::vector<json::Value>> shard_read(std::string_view zr_dir, std::string_view layer,
                                                  std::string_view hash);

// Every parseable line of every shard of `layer`, in directory-listing
// order. Shards are regular files named by exactly two hex digits (either
// case); other files and sub-directories are not shards. A missing layer is
// empty.
base::Result<std::vector<json::Value>> shard_iterate_all(std::string_view zr_dir, std::string_view layer);

// True when `name` is two ASCII hex digits.
bool is_shard_file_name(std::string_view name);

}  // namespace zr::store
