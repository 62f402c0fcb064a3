// A mark in the store that the attribution index lags behind the layers:
// <zr_dir>/.zr/index-rebuild-needed, an empty file.
//
// A writer that appends layer records and builds the index afterwards (a
// store merge) sets it before its first record and lets the build clear it.
// Killed in between, it leaves the mark, and the next such writer builds
// the index even when it adds nothing itself, so no query keeps answering
// from an index that misses the records.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::index {

inline constexpr std::string_view kRebuildMarkName = "index-rebuild-needed";

// <zr_dir>/.zr/index-rebuild-needed
std::string rebuild_mark_path(std::string_view zr_dir);

// Creates the mark (one already there is kept) and flushes it and the
// store directory to disk. Errors carry the system's message only.
base::Status set_rebuild_mark(std::string_view zr_dir);

// True when the mark is there. A path that cannot be examined counts as no
// mark: the build it would ask for has nothing to read either.
bool has_rebuild_mark(std::string_view zr_dir);

// Removes the mark; called once the index holds every layer record.
base::Status clear_rebuild_mark(std::string_view zr_dir);

}  // namespace zr::index
