// File-system primitives with RAII ownership and error values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"

namespace zr::base {

// Joins path components with the platform separator, exactly as given.
std::string path_join(std::string_view a, std::string_view b);

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

// Follows symbolic links; anything that cannot be inspected reads as missing.
PathKind path_kind(const std::string& path);

// The absolute path of what `path` names, every symbolic link on the way
// (the last component's included) resolved. Errors carry the system's
// message only.
Result<std::string> resolve_path(const std::string& path);

// Writes all of `data`, retrying short writes and interrupted calls.
Status write_all(int fd, std::string_view data);

// Opens `path` for appending, creating it (never its directory) if missing.
// Opening never waits: a FIFO without a reader fails at once ("No such
// device or address") instead of hanging. Errors carry the system's message.
Result<UniqueFd> open_for_append(const std::string& path);

// Opens `path` for appending and writes `data` with one write-all call. Several processes may append to one file;
// each call's bytes land together on file systems with atomic appends.
Status append_to_file(const std::string& path, std::string_view data);

// Creates or truncates `path` and writes `data`.
Status write_file(const std::string& path, std::string_view data);

// A file opened for appending that must be a regular file: an existing one
// is opened as it is (its size kept, so that a failed run can cut it back),
// a missing one is created exclusively (so that a failed run can remove it).
// Anything else (a FIFO, a directory) fails with "No such device".
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
  // Errors carry the system's message only.
  static Result<FileToMap> Open(const std::string& path);
  // nullopt when nothing is at `path`; errors are "opening <path>: <message>".
  static Result<std::optional<FileToMap>> OpenIfExists(const std::string& path);

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

// The paths of the regular files of `dir`, in listing order. A listing
// failure is the system's error.
Result<std::vector<std::string>> regular_files_in(const std::string& dir);

// Creates a new file with a unique name "<dir>/<prefix>XXXXXX" for writing.
// On success `path` holds its name.
Result<UniqueFd> create_temp_file(const std::string& dir, std::string_view prefix, std::string& path);

// True when `name` is `prefix` followed by a unique part of the kind
// create_temp_file makes (six ASCII letters or digits): a file that a writer
// using that prefix created, and nobody else's.
bool is_temp_file_name(std::string_view name, std::string_view prefix);

// Flushes the entries of directory `dir` (names created, renamed or removed
// in it) to stable storage. Errors carry the system's message only.
Status sync_directory(const std::string& dir);

// Removes a file; a missing file is not an error.
Status remove_file(const std::string& path);

}  // namespace zr::base
