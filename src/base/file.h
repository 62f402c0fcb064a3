// File-system primitives with RAII ownership and error values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"

namespace zr::base {

// A C path ends at its first NUL: a path holding one is refused with this
// error ("path contains a NUL byte") instead of silently naming the prefix
// before the NUL. Nothing can be at such a path, so the error counts as
// missing. Success for every other path.
Status check_path(std::string_view path);

// Joins path components with the platform separator, exactly as given.
std::string path_join(std::string_view a, std::string_view b);

// The directory that holds `path`: "." for a bare name, "/" for a name
// directly under the root.
std::string parent_directory(std::string_view path);

// An owned file descriptor, closed on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

// A whole file mapped into memory, read-only unless asked otherwise. An
// empty file has no mapping and an empty view.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Opens and maps the regular file `path` read-only. Errors carry the
  // system's message only.
  static Result<MappedFile> Open(const std::string& path);
  // The same, except that a missing file maps as empty (lenient readers).
  // Only absence reads as empty: a file that exists but cannot be reached
  // (denied, a file where a directory should be on the way) is an error.
  static Result<MappedFile> OpenIfExists(const std::string& path);
  // Maps the first `size` bytes of an open descriptor (shared, so writes
  // reach the file when `writable`).
  static Result<MappedFile> Map(int fd, size_t size, bool writable);

  const char* data() const { return data_; }
  char* data() { return data_; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  // Writes changed pages back to the file and waits for it.
  Status Sync();

 private:
  void reset();

  char* data_ = nullptr;
  size_t size_ = 0;
  // Read-only maps of a build with ZR_EXACT_READ_MAPPINGS (the fuzz build)
  // are exactly sized heap copies instead, so that a sanitizer sees a read
  // past the file's end (a mapping would still have the rest of its last
  // page). Unlike a mapping, a copy does not see later writes to the file.
  bool heap_copy_ = false;
};

enum class PathKind { kMissing, kRegularFile, kDirectory, kOther };

// What is at `path`, following symbolic links. Only a path that does not
// exist (a path holding a NUL byte never does) is kMissing; one that cannot
// be inspected for any other reason (denied access, a file where a directory
// should be on the way, an I/O error) is the system's error, so that a store
// the caller cannot read never passes for an empty one.
Result<PathKind> path_kind(const std::string& path);
// The kind a file's mode bits (st_mode) spell.
PathKind path_kind_of_mode(uint32_t mode);

// Whether there is a directory at `path` to read: false only when nothing is
// there. Anything else there (a regular file, a FIFO) fails with "Not a
// directory", so that a store damaged that way never passes for an empty
// one. Errors carry the system's message only.
Result<bool> directory_exists(const std::string& path);

// The absolute path of what `path` names, every symbolic link on the way
// (the last component's included) resolved. Errors carry the system's
// message only.
Result<std::string> resolve_path(const std::string& path);

// What the symbolic link `path` points at, as written in the link. A path
// that is no link fails with "Invalid argument". Errors carry the system's
// message only.
Result<std::string> read_link(const std::string& path);

// Writes all of `data`, retrying short writes and interrupted calls.
Status write_all(int fd, std::string_view data);

// Writes all of `data` at byte `offset` of the file, leaving the file offset
// where it was; retries as write_all does.
Status write_at(int fd, uint64_t offset, std::string_view data);

// Flushes the file open on `fd` to stable storage and waits for it.
Status sync_file(int fd);

// Cuts the file open on `fd` back to `size` bytes: how an append that failed
// part-way is undone.
Status truncate_file(int fd, uint64_t size);

// Asks the system to start writing `length` bytes from `offset` of the file
// to storage without waiting for it (0 length: to the end). Only a hint: a
// later sync_file still flushes and reports any failure.
void start_writeback(int fd, uint64_t offset, uint64_t length);

// The size of the memory pages that mappings are made of.
size_t page_size();

// Tells the system that `length` bytes of a read-only file mapping from
// `begin` (whole pages: both at multiples of page_size() from the mapping's
// start) are not needed for now. Only a hint; a page read again comes back
// from the file.
void release_mapped_pages(const char* begin, size_t length);

// Opens `path` for appending, creating it (never its directory) if missing.
// A file that can seek is opened for reading too when it allows that, so
// that append_lines can look at its last byte. Opening never waits: a FIFO
// without a reader fails at once ("No such device or address") instead of
// hanging. Errors carry the system's message.
Result<UniqueFd> open_for_append(const std::string& path);

// True when the regular file open on `fd` is not empty and its last byte is
// not "\n": a writer was cut off in the middle of a line (killed, or out of
// disk space). False when that cannot be read (a file open for writing only).
// It moves the file offset, which appends do not use.
bool ends_mid_line(int fd);

// Writes whole lines (`lines` ends with "\n") at the end of the file open
// on `fd` for appending, with one write-all call. When the file ends in the
// fragment of a cut-off line, one "\n" goes first in the same write, so that
// the fragment stays an unreadable line of its own instead of swallowing the
// first new line. Another appender between the check and the write can at
// worst leave an empty line, which readers skip.
Status append_lines(int fd, std::string_view lines);

// Opens `path` for appending and writes `lines` with append_lines. Several
// processes may append to one file; each call's bytes land together on file
// systems with atomic appends.
Status append_to_file(const std::string& path, std::string_view lines);

// Creates or truncates `path` and writes `data`.
Status write_file(const std::string& path, std::string_view data);

// A file opened for appending that must be a regular file: how every writer
// opens the operation log, and how archives are added to. An existing one
// is opened as it is (its size kept, so that a failed run can cut it back),
// a missing one is created exclusively (so that a failed run can remove it;
// `created` is true only for the call that made it, however many processes
// race to). Opening never waits: a FIFO without a reader fails at once ("No
// such device or address"), anything else that is no regular file (a FIFO
// with a reader, a device) with "No such device", a directory with "Is a
// directory". Like open_for_append, the file is readable too when it allows
// that.
struct RegularAppendFile {
  UniqueFd fd;
  bool created = false;
  uint64_t old_size = 0;
};
Result<RegularAppendFile> open_regular_for_append(const std::string& path);

// A file opened read-only, to be mapped once its kind and size are checked.
// Opening never waits on a FIFO found where a file should be.
class FileToMap {
 public:
  // Errors carry the system's message only; a caller for whom absence is
  // no error asks status().is_missing().
  static Result<FileToMap> Open(const std::string& path);

  PathKind kind() const { return kind_; }
  uint64_t size() const { return size_; }
  // Maps the descriptor already open, so size and bytes come from one file
  // even when another is renamed over the path meanwhile.
  Result<MappedFile> Map() const { return MappedFile::Map(fd_.get(), static_cast<size_t>(size_), false); }

 private:
  FileToMap(UniqueFd fd, PathKind kind, uint64_t size) : fd_(std::move(fd)), kind_(kind), size_(size) {}

  UniqueFd fd_;
  PathKind kind_;
  uint64_t size_;
};

struct DirEntry {
  std::string name;
  PathKind kind;  // symbolic links followed
};

// The entries of `dir` ("." and ".." excluded) in the order the file system
// lists them. Errors carry the system's message only.
Result<std::vector<DirEntry>> list_directory(const std::string& dir);

// The entries of a directory of the store, read as the store's readers read
// one: as list_directory, or none when nothing is at `dir`. Anything else
// there (a regular file) fails with "Not a directory", so that a damaged
// store never passes for an empty one.
Result<std::vector<DirEntry>> list_directory_if_exists(const std::string& dir);

// The names of the entries of `dir` ("." and ".." excluded) in listing
// order, none of them examined: for a caller that picks an entry by its name
// alone, so that an entry it never picks (a symbolic link loop, say) cannot
// fail it. Errors carry the system's message only.
Result<std::vector<std::string>> list_directory_names(const std::string& dir);
// The same for the directory open on `dir_fd`, which stays open and is not
// moved (the listing reads through a copy of the descriptor).
Result<std::vector<std::string>> list_directory_names_at(int dir_fd);

// The paths of the regular files of a directory of the store, in listing
// order, read as list_directory_if_exists reads it: none when nothing is at
// `dir`, "Not a directory" for anything else there.
Result<std::vector<std::string>> regular_files_in(const std::string& dir);

// The length of the unique part that create_temp_file puts after a prefix.
inline constexpr size_t kTempNameUniqueLength = 6;

// Creates a new file with a unique name "<dir>/<prefix>XXXXXX" (the unique
// part of kTempNameUniqueLength ASCII letters or digits) for writing. On
// success `path` holds its name.
Result<UniqueFd> create_temp_file(const std::string& dir, std::string_view prefix, std::string& path);

// True when `name` is `prefix` followed by a unique part of the kind
// create_temp_file makes: a file that a writer using that prefix created,
// and nobody else's.
bool is_temp_file_name(std::string_view name, std::string_view prefix);

// Creates `path`, which must not exist yet, and opens it for appending
// (writing only).
Result<UniqueFd> create_for_append(const std::string& path);

// Removes a file; a missing file is not an error.
Status remove_file(const std::string& path);

// Flushes the directory `dir` to stable storage, so that the names created,
// renamed or removed in it survive a power cut. A file system that cannot
// flush a directory ("Invalid argument") has nothing more to offer and is
// not an error.
Status sync_directory(const std::string& dir);

}  // namespace zr::base
