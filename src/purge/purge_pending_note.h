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

#include "base/status.h"

namespace zr::purge {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtime_s = 0;
  int64_t mtime_ns = 0;
  int64_t ctime_s = 0;
  int64_t ctime_ns = 0;

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of what `path` itself names (a symbolic link is not
// followed). Errors carry the system's message only.
base::Result<FileIdentity> identify_file(const std::string& path);

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
