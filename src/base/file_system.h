// Operations on the names of the file system: directories made and removed,
// renames, and what a path names. Like the rest of src/base they return
// error values that keep the system's error number, so that a caller asks
// status.is_missing() instead of reading messages.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "base/file.h"
#include "base/status.h"

namespace zr::base {

// Creates `path` and every missing parent; an existing directory is fine.
// An existing entry that is not a directory fails with "File exists" (the
// path itself) or "Not a directory" (a parent). Errors carry the system's
// message only.
Status make_directories(const std::string& path);

// Removes the directory `path` if it is empty.
Status remove_empty_directory(const std::string& path);

// Removes what `path` names and, when that is a directory, everything below
// it. A symbolic link is removed, never followed. True when something was
// there, false when nothing was (which is no error); an entry that vanishes
// meanwhile is no error either.
Result<bool> remove_tree(const std::string& path);

// Renames `from` to `to`, replacing what `to` names.
Status rename_path(const std::string& from, const std::string& to);

// Renames `from` to `to` unless something is at `to`: false, with nothing
// done, when something is. On a file system that cannot refuse a rename
// atomically it looks first, which is as good only as long as no other
// process creates `to` meanwhile.
Result<bool> rename_no_replace(const std::string& from, const std::string& to);

// A moment as the file system records it.
struct FileTime {
  int64_t seconds = 0;
  int64_t nanoseconds = 0;

  friend auto operator<=>(const FileTime&, const FileTime&) = default;
};

// What `path` names, symbolic links followed.
struct FileStatus {
  PathKind kind = PathKind::kMissing;
  uint64_t size = 0;
  mode_t permissions = 0;  // the mode's low twelve bits
  FileTime modified;
};

// Errors carry the system's message only.
Result<FileStatus> file_status(const std::string& path);
// The same for the file open on `fd`.
Result<FileStatus> descriptor_status(int fd);

// What tells one file from another and from its own earlier state: a file
// replaced by a rename has another device or inode, one changed in place
// another size or time.
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
Result<FileIdentity> file_identity(const std::string& path);

}  // namespace zr::base
