// Creating a store's skeleton.
#pragma once

#include <string_view>

#include "base/status.h"

namespace zr::store {

// Creates <zr_dir>/.zr with its four layer directories (and any missing
// parents) and an empty log. Existing directories keep their contents; an
// existing log is emptied.
base::Status init_store(std::string_view zr_dir);

}  // namespace zr::store
