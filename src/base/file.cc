#include "base/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

namespace zr::base {

namespace {
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }
Status nul_in_path() { return Status::FromErrno(ENOENT, "path contains a NUL byte"); }

// Opens `path` for reading without waiting on a FIFO found where a file
// should be (O_NONBLOCK changes nothing for regular files). -1 and errno on
// failure.
int open_read_only(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

// Opens `path` to append to it, with `flags` added, for reading as well when
// the file allows that, so that its last byte can be checked. What cannot
// seek (a FIFO) is opened for writing only, exactly as asked, so that a FIFO
// without a reader is still refused at once. -1 and errno on failure.
// `at_last_byte` tells whether the file offset was left on the last byte of
// a non-empty file: seeking there is how a FIFO shows, and it saves the hot
// path of tracking a look at the file's size.
int open_appending(const std::string& path, int flags, bool& at_last_byte) {
  at_last_byte = false;
  int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | flags, 0666);
  if (fd >= 0) {
    if (::lseek(fd, -1, SEEK_END) >= 0) {
      at_last_byte = true;
      return fd;
    }
    if (errno == EINVAL) return fd;  // an empty file has no byte before its end
    ::close(fd);
  }
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | flags, 0666);
}

// Reads the byte at the file offset of `fd`: true when it is there and is
// not "\n". Appends are not affected by the offset.
bool fragment_at_offset(int fd) {
  char last = '\n';
  return ::read(fd, &last, 1) == 1 && last != '\n';
}

// Writes `lines` with one write-all call, after a "\n" when `separate`.
Status write_lines(int fd, std::string_view lines, bool separate) {
  if (!separate || lines.empty()) return write_all(fd, lines);
  std::string separated;
  separated.reserve(lines.size() + 1);
  separated.push_back('\n');
  separated.append(lines);
  return write_all(fd, separated);
}
}  // namespace

Status check_path(std::string_view path) { return has_nul(path) ? nul_in_path() : Status(); }

std::string path_join(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(a.size() + 1 + b.size());
  out.append(a);
  if (!out.empty() && out.back() != '/') out.push_back('/');
  out.append(b);
  return out;
}

std::string parent_directory(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      heap_copy_(std::exchange(other.heap_copy_, false)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    heap_copy_ = std::exchange(other.heap_copy_, false);
  }
  return *this;
}

MappedFile::~MappedFile() { reset(); }

void MappedFile::reset() {
  if (heap_copy_) {
    ::free(data_);
  } else if (data_ != nullptr) {
    ::munmap(data_, size_);
  }
  data_ = nullptr;
  size_ = 0;
  heap_copy_ = false;
}

namespace {
Result<MappedFile> map_regular_file(const FileToMap& file) {
  // Only regular files can be mapped; say why for the common cases.
  if (file.kind() == PathKind::kDirectory) return Status::FromErrno(EISDIR);
  if (file.kind() != PathKind::kRegularFile) return Status::FromErrno(ENODEV);
  return file.Map();
}
}  // namespace

Result<MappedFile> MappedFile::Open(const std::string& path) {
  ZR_ASSIGN_OR_RETURN(FileToMap file, FileToMap::Open(path));
  return map_regular_file(file);
}

Result<MappedFile> MappedFile::OpenIfExists(const std::string& path) {
  Result<FileToMap> file = FileToMap::Open(path);
  if (!file.ok()) {
    if (file.status().is_missing()) return MappedFile();
    return file.status();
  }
  return map_regular_file(*file);
}

Result<MappedFile> MappedFile::Map(int fd, size_t size, bool writable) {
  MappedFile mapped;
  if (size == 0) return mapped;
#ifdef ZR_EXACT_READ_MAPPINGS
  if (!writable) {
    char* copy = static_cast<char*>(::malloc(size));
    if (copy == nullptr) return Status::FromErrno(ENOMEM);
    mapped.data_ = copy;
    mapped.size_ = size;
    mapped.heap_copy_ = true;
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::pread(fd, copy + done, size - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      // A file that shrank since its size was taken fails the way a
      // mapping would on touching the missing pages.
      if (n <= 0) return Status::FromErrno(n < 0 ? errno : EIO);
      done += static_cast<size_t>(n);
    }
    return mapped;
  }
#endif
  int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
  // Shared even when read-only: a private read-only mapping would be the
  // same bytes, and one kind of mapping keeps writable ones consistent.
  void* p = ::mmap(nullptr, size, prot, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return Status::FromErrno(errno);
  mapped.data_ = static_cast<char*>(p);
  mapped.size_ = size;
  return mapped;
}

Status MappedFile::Sync() {
  if (data_ != nullptr && ::msync(data_, size_, MS_SYNC) != 0) return Status::FromErrno(errno);
  return Status();
}

Result<PathKind> path_kind(const std::string& path) {
  struct stat st;
  if (has_nul(path)) return PathKind::kMissing;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return PathKind::kMissing;
    return Status::FromErrno(errno);
  }
  return path_kind_of_mode(st.st_mode);
}

PathKind path_kind_of_mode(uint32_t mode) {
  if (S_ISREG(mode)) return PathKind::kRegularFile;
  if (S_ISDIR(mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

Result<bool> directory_exists(const std::string& path) {
  ZR_ASSIGN_OR_RETURN(PathKind kind, path_kind(path));
  if (kind == PathKind::kMissing) return false;
  if (kind != PathKind::kDirectory) return Status::FromErrno(ENOTDIR);
  return true;
}

Result<std::string> resolve_path(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), ::free);
  if (!resolved) return Status::FromErrno(errno);
  return std::string(resolved.get());
}

Result<std::string> read_link(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  std::string target(256, '\0');
  while (true) {
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return Status::FromErrno(errno);
    // A link as long as the buffer may have been cut short.
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

Result<FileToMap> FileToMap::Open(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  UniqueFd fd(open_read_only(path));
  if (!fd.valid()) return Status::FromErrno(errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Status::FromErrno(errno);
  return FileToMap(std::move(fd), path_kind_of_mode(st.st_mode), static_cast<uint64_t>(st.st_size));
}

namespace {

// Hands `data` to `write_some(bytes, size, done)` (one write or pwrite call,
// `done` bytes already written) until all of it is written, retrying what a
// signal interrupted.
template <typename WriteSome>
Status write_fully(std::string_view data, WriteSome write_some) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write_some(data.data() + done, data.size() - done, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno);
    }
    if (n == 0) return Status::Error("failed to write whole buffer");
    done += static_cast<size_t>(n);
  }
  return Status();
}

}  // namespace

Status write_all(int fd, std::string_view data) {
  return write_fully(data, [fd](const char* p, size_t n, size_t) { return ::write(fd, p, n); });
}

Status write_at(int fd, uint64_t offset, std::string_view data) {
  return write_fully(data, [fd, offset](const char* p, size_t n, size_t done) {
    return ::pwrite(fd, p, n, static_cast<off_t>(offset + done));
  });
}

Status sync_file(int fd) {
  if (::fsync(fd) != 0) return Status::FromErrno(errno);
  return Status();
}

Status truncate_file(int fd, uint64_t size) {
  while (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return Status::FromErrno(errno);
  }
  return Status();
}

void start_writeback(int fd, uint64_t offset, uint64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  (void)::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
  (void)offset;
  (void)length;
#endif
}

size_t page_size() {
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

void release_mapped_pages(const char* begin, size_t length) {
  // Refused or not, the pages hold the file's bytes either way.
  (void)::madvise(const_cast<char*>(begin), length, MADV_DONTNEED);
}

Result<UniqueFd> open_for_append(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  // O_NONBLOCK: a FIFO without a reader fails at once instead of hanging.
  bool at_last_byte;
  UniqueFd fd(open_appending(path, O_CREAT | O_NONBLOCK, at_last_byte));
  if (!fd.valid()) return Status::FromErrno(errno);
  return fd;
}

bool ends_mid_line(int fd) { return ::lseek(fd, -1, SEEK_END) >= 0 && fragment_at_offset(fd); }

Status append_lines(int fd, std::string_view lines) { return write_lines(fd, lines, ends_mid_line(fd)); }

Status append_to_file(const std::string& path, std::string_view lines) {
  if (has_nul(path)) return nul_in_path();
  bool at_last_byte;
  UniqueFd fd(open_appending(path, O_CREAT | O_NONBLOCK, at_last_byte));
  if (!fd.valid()) return Status::FromErrno(errno);
  return write_lines(fd.get(), lines, at_last_byte && fragment_at_offset(fd.get()));
}

Result<RegularAppendFile> open_regular_for_append(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  RegularAppendFile file;
  bool at_last_byte;
  // Another process may create the file between a failed open and the
  // exclusive create, or remove it between the two the other way round:
  // try again a few times rather than report a file that is there.
  for (int attempt = 0; attempt < 4 && !file.fd.valid(); ++attempt) {
    // O_NONBLOCK: a FIFO in the file's place must not make the call wait
    // for a reader; it is refused below like anything else that is no file.
    file.fd = UniqueFd(open_appending(path, O_NONBLOCK, at_last_byte));
    if (file.fd.valid() || errno != ENOENT) break;
    file.fd = UniqueFd(open_appending(path, O_CREAT | O_EXCL, at_last_byte));
    file.created = file.fd.valid();
    if (!file.fd.valid() && errno != EEXIST) break;
  }
  if (!file.fd.valid()) return Status::FromErrno(errno);
  struct stat st;
  if (::fstat(file.fd.get(), &st) != 0) return Status::FromErrno(errno);
  if (!S_ISREG(st.st_mode)) return Status::FromErrno(ENODEV);
  file.old_size = static_cast<uint64_t>(st.st_size);
  return file;
}

Status write_file(const std::string& path, std::string_view data) {
  if (has_nul(path)) return nul_in_path();
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd.valid()) return Status::FromErrno(errno);
  return write_all(fd.get(), data);
}

Result<std::vector<std::string>> list_directory_names(const std::string& dir) {
  if (has_nul(dir)) return nul_in_path();
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return Status::FromErrno(errno);
  return list_directory_names_at(fd.get());
}

Result<std::vector<std::string>> list_directory_names_at(int dir_fd) {
  UniqueFd copy(::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid()) return Status::FromErrno(errno);
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(copy.get()), ::closedir);
  if (!listing) return Status::FromErrno(errno);
  copy.release();  // closed with the listing
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    struct dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      if (errno != 0) return Status::FromErrno(errno);
      break;
    }
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

Result<std::vector<DirEntry>> list_directory(const std::string& dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> names, list_directory_names(dir));
  std::vector<DirEntry> entries;
  entries.reserve(names.size());
  for (std::string& name : names) {
    // An entry gone since the listing (or a dangling link) reads as missing.
    ZR_ASSIGN_OR_RETURN(PathKind kind, path_kind(path_join(dir, name)));
    entries.push_back(DirEntry{std::move(name), kind});
  }
  return entries;
}

Result<std::vector<DirEntry>> list_directory_if_exists(const std::string& dir) {
  Result<std::vector<DirEntry>> entries = list_directory(dir);
  if (!entries.ok() && entries.status().is_missing()) return std::vector<DirEntry>();
  return entries;
}

Result<std::vector<std::string>> regular_files_in(const std::string& dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<DirEntry> entries, list_directory_if_exists(dir));
  std::vector<std::string> files;
  files.reserve(entries.size());
  for (const DirEntry& entry : entries) {
    if (entry.kind == PathKind::kRegularFile) files.push_back(path_join(dir, entry.name));
  }
  return files;
}

Result<UniqueFd> create_temp_file(const std::string& dir, std::string_view prefix, std::string& path) {
  std::string name = path_join(dir, prefix);
  name.append(kTempNameUniqueLength, 'X');  // what mkostemp replaces
  if (has_nul(name)) return nul_in_path();
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.valid()) return Status::FromErrno(errno);
  path = std::move(name);
  return fd;
}

bool is_temp_file_name(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kTempNameUniqueLength || !name.starts_with(prefix)) return false;
  for (char c : name.substr(prefix.size())) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

Result<UniqueFd> create_for_append(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666));
  if (!fd.valid()) return Status::FromErrno(errno);
  return fd;
}

Status remove_file(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Status::FromErrno(errno);
  return Status();
}

Status sync_directory(const std::string& dir) {
  if (has_nul(dir)) return nul_in_path();
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return Status::FromErrno(errno);
  Status synced = sync_file(fd.get());
  if (synced.error_number() == EINVAL) return Status();
  return synced;
}

}  // namespace zr::base
