// Purge archives: <zr_dir>/.zr/archive/purge.YYYYMMDDTHHMMSS, one JSON Lines
// file per second in which a purge removed lines.
//
// Each removed line becomes one record {"archived_at":<stamp>,"line":<value>}
// (keys sorted, compact), in data-file order: `line` is the line's parsed
// JSON value written anew, not its original text (null if it does not
// parse). Two purges within one second append to the same file. Restoring
// reads the newest archive back. A run's records reach the archive only once
// its data file is replaced (purge_pending_archive.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::purge {

inline constexpr std::string_view kArchiveDirName = "archive";
inline constexpr std::string_view kPurgeArchivePrefix = "purge.";

// "YYYYMMDDTHHMMSS" (UTC, Gregorian calendar) of a clock reading in seconds
// since the epoch; a reading before the epoch counts as 0.
std::string purge_archive_stamp(int64_t seconds);

// <zr_dir>/.zr/archive
std::string archive_dir(std::string_view zr_dir);
// <zr_dir>/.zr/archive/purge.<stamp>
std::string purge_archive_path(std::string_view zr_dir, std::string_view stamp);

// Appends the compact text of one archive record, "\n" included, for a
// removed line given as the compact text of its value.
void append_archive_record_of_value(std::string& out, std::string_view stamp, std::string_view compact_value);

// The "purge_archive" log detail.
std::string purge_archive_detail(uint64_t count, std::string_view path);

}  // namespace zr::purge
