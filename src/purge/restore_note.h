// The note a restore leaves beside the archive it is restoring, so that a
// run cut short can be finished instead of repeated (reverse.h describes
// how it is used).
//
// Name: archive/.restoring.<archive name>, e.g. .restoring.purge.20250101T000000
// (never beginning with "purge.", so restoring never takes it).
// Text: "<dev> <ino> <size> <mtime s> <mtime ns> <ctime s> <ctime ns>
// <data size> <separated> <path length>" in decimal, "\n", then the data
// file's path: the archive's identity when the restore began, the data
// file's size before anything was appended, 1 when the appended block
// begins with the "\n" that ends a cut-off last line (else 0), and the data
// file's resolved path. A note cut short does not parse.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/file_system.h"
#include "base/status.h"

namespace zr::purge {

struct RestoreNote {
  base::FileIdentity archive;  // symbolic links not followed
  uint64_t data_size = 0;
  bool separated = false;
  std::string data_file;  // absolute, no symbolic link in it
};

inline constexpr std::string_view kRestoreNotePrefix = ".restoring.";

// The note's path for the archive at `archive_path`.
std::string restore_note_path(const std::string& archive_path);

// True for the name of a restore note.
bool is_restore_note_name(std::string_view name);

std::string format_restore_note(const RestoreNote& note);
// nullopt when `text` is not a whole note.
std::optional<RestoreNote> parse_restore_note(std::string_view text);

// Creates the note (nothing may be at `note_path`) and flushes it and its
// directory to disk, so that it is there whatever happens to the data file
// afterwards.
base::Status write_restore_note(const std::string& note_path, const RestoreNote& note);

// The note at `note_path` when it belongs to the archive at `archive_path`
// as it is now. A note that is cut short, or whose archive is gone or is
// another file by now (a later purge of the same second), is removed and
// reads as none.
base::Result<std::optional<RestoreNote>> current_restore_note(const std::string& note_path,
                                                              const std::string& archive_path);

// Housekeeping: removes the note at `note_path` unless a restore it
// describes can still be finished. Best effort.
void discard_stale_restore_note(const std::string& note_path);

}  // namespace zr::purge
