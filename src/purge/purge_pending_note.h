// What a purge in progress writes down about the data file it replaces, so
// that its pending archive records can be judged after a crash.
//
// A purge's records wait in a pending file of the archive directory until
// the data file has been replaced. Beside them a note names the data file
// (its real path, links resolved) and the identity it had when the run began
// (device, inode, size, modification and change times). While the data file
// still has that identity, it has not been replaced and the pending records
// describe lines it still holds: they may go. Once the identity differs, the
// records are the only copy of removed lines and must stay.
//
// Note file: one line "<dev> <ino> <size> <mtime s> <mtime ns> <ctime s>
// <ctime ns>" in decimal, then the path's bytes up to the end of the file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/file_system.h"
#include "base/status.h"

namespace zr::purge {

// The identity kept in a note: what base::file_identity reads (a symbolic
// link is not followed).
using FileIdentity = base::FileIdentity;

struct PendingNote {
  std::string data_file;  // absolute, no symbolic link in it
  FileIdentity identity;  // when the run began
};

std::string format_pending_note(const PendingNote& note);
// nullopt when `text` is not a whole note.
std::optional<PendingNote> parse_pending_note(std::string_view text);

// True only when the data file still has the identity of the note: it was
// not replaced, so the run's pending records are lines it still holds.
// Anything else (another identity, no file, a path that cannot be examined)
// counts as replaced, which keeps the records.
bool data_file_unchanged(const PendingNote& note);

}  // namespace zr::purge
