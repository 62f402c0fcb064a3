// Full scans of the `sections` layer (see store/layer_scan.h): the hashes of
// the sections a query keeps, in directory-listing order, lines in file
// order, duplicates kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::registry {

// The section_hash of every section whose authors include one of
// `author_ids`.
base::Result<std::vector<std::string>> sections_by_authors(std::string_view zr_dir,
                                                           const std::vector<std::string>& author_ids);

// The section_hash of every section whose license equals `license` byte for
// byte.
base::Result<std::vector<std::string>> sections_by_license(std::string_view zr_dir, std::string_view license);

}  // namespace zr::registry
