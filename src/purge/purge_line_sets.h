// Which lines a purge removes: the line sets of the two purge operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "purge/line_set.h"

namespace zr::purge {

// <zr_dir>/.zr/document-index/revoked/all: the revoked-document list, one
// document-index record per line, written by tools outside this module.
std::string revoked_list_path(std::string_view zr_dir);

// The number of non-empty lines of the revoked-document list (0 when it is
// absent), valid records or not.
base::Result<uint64_t> revoked_list_size(std::string_view zr_dir);

// The line hashes of the revoked-document list, plus those of every
// document-index record (in the shards, files named by two hex digits) that
// names a revoked section among its sources. A revoked section is a line of
// any regular file of the `sections` layer whose "revoked" member is true
// and whose "section_hash" is a string.
base::Result<LineSet> revoked_line_set(std::string_view zr_dir);

// The line set of a purge by author, found through index.bin: the authors
// of that name (at least one must be revoked), the `sections` shards the
// index names for their ids, the sections there that list one of the ids,
// the `document-index` shards the index names for those sections, and the
// records there with one of those sections among their sources. Fails when
// no author of that name is revoked, and when index.bin is missing.
base::Result<LineSet> author_line_set(std::string_view zr_dir, std::string_view author_name);

}  // namespace zr::purge
