// Housekeeping's record archives: copies of flagged layer records in
// <zr_dir>/.zr/archive/<layer>.<first two characters of the record's key>.
//
// A record is flagged when its "revoked" or its "orphan" member is JSON true.
// The layer itself is not changed, so a record still flagged is copied again
// by every later run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "json/value.h"

namespace zr::maintenance {

// True when `record` is an object whose "revoked" or "orphan" member is true.
bool is_flagged_record(const json::Value& record);

// Number of characters of a file name as text (an invalid byte counts as one).
size_t name_length_in_characters(std::string_view name);

// How archive_flagged_records reads a layer: quick passes over lines that
// cannot hold a flag unparsed; full parses every line. Both archive the same
// records; full is there to check that.
enum class FlaggedRead { kQuick, kFull };

// Appends every flagged record whose `key_member` is a string that can name
// a shard to <archive_dir>/<layer>.<shard name>, reading the regular files of
// <zr_dir>/.zr/<layer> whose names are two characters long. Records whose key
// cannot name a file there (too short, a cut character, "/", NUL, "." or "..")
// are passed over. A missing layer has nothing to archive.
base::Result<uint64_t> archive_flagged_records(std::string_view zr_dir, const std::string& archive_dir,
                                               std::string_view layer, std::string_view key_member,
                                               FlaggedRead read = FlaggedRead::kQuick);

}  // namespace zr::maintenance
