// Purging the lines of revoked contributions out of a data file.
//
// Both operations choose a set of line hashes and then run the purge pass
// (pass.h) over the data file; a real run returns what the pass
// counted, a dry run writes nothing at all.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "purge/pass.h"

namespace zr::purge {

// Removes the lines of the revoked-document list and those attributed to a
// revoked section. The dry run only counts the non-empty lines of the
// revoked-document list (as `purged`; the sections and the data file play no
// part).
base::Result<PurgeCounts> purge_revoked(std::string_view zr_dir, const std::string& data_file, bool dry_run);

// Removes the lines attributed to the sections of the authors with this
// name, found through index.bin; one of them must be revoked. The dry run
// counts the distinct line hashes found (as `purged`) and still requires a
// revoked author and index.bin.
base::Result<PurgeCounts> purge_by_author_indexd(std::string_view zr_dir, std::string_view author_name,
                                                 const std::string& data_file, bool dry_run);

}  // namespace zr::purge
