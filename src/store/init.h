// Creating a store's skeleton.
#pragma once

#include <string_view>

#include "base/status.h"

namespace zr::store {

// Creates <zr_dir>/.zr with its four layer directories (and any missing
// parents) and an empty log. Existing directories keep their contents; an
// existing log is emptied.
base::Status init_store(std::string_view zr_dir);

// Creates `path` and every missing parent; an existing directory is fine.
// Errors carry the system's message only.
base::Status create_directories(const std::string& path);

}  // namespace zr::store
