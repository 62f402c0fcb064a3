// The section registry: the `sections` layer, sharded by section hash.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::registry {

// Appends a record for the section described and returns its hash. Nothing
// is read or checked first: registering twice leaves two identical lines.
// The layer directory is never created; a shard that cannot be opened fails
// with the system's message alone.
base::Result<std::string> register_section(std::string_view zr_dir, std::string_view path,
                                           const std::vector<std::string>& authors,
                                           const std::vector<std::string>& contributors, std::string_view license,
                                           std::string_view year);

}  // namespace zr::registry
