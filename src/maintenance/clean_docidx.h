// Folding per-process document-index files ("docidx.<suffix>" directly in
// the store directory, written by other tools) into the document-index
// shards.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::maintenance {

// True for names of per-process document-index files: "docidx." followed by
// anything except exactly two hex digits.
bool is_docidx_file_name(std::string_view name);

struct DocidxFoldCounts {
  uint64_t records_merged = 0;
  uint64_t files_deleted = 0;
};

// Appends every record of every per-process file whose "line_hash" is a
// string that can name a shard to that shard (the layer directory is not
// created), deleting each file right after its own records were appended.
// A file is never deleted unless every record of it was appended.
base::Result<DocidxFoldCounts> fold_docidx_files(std::string_view zr_dir);

}  // namespace zr::maintenance
