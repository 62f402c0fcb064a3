#include "base/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace zr::base {

namespace {

// Removes `name` in the directory open on `parent` (AT_FDCWD: the current
// one), with everything below it when it is a directory. False when nothing
// was there.
Result<bool> remove_entry_at(int parent, const char* name) {
  if (::unlinkat(parent, name, 0) == 0) return true;
  if (errno == ENOENT) return false;
  // unlink refuses a directory: "Is a directory" here, "Operation not
  // permitted" where the system follows the letter of the standard.
  const int unlink_error = errno;
  if (unlink_error != EISDIR && unlink_error != EPERM) return Status::FromErrno(unlink_error);
  struct stat st;
  if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return false;
    return Status::FromErrno(errno);
  }
  if (!S_ISDIR(st.st_mode)) return Status::FromErrno(unlink_error);
  UniqueFd dir(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return Status::FromErrno(errno);
  // Read in full before any entry is removed: removing entries while a
  // listing is under way may make it skip others.
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> names, list_directory_names_at(dir.get()));
  for (const std::string& entry : names) ZR_RETURN_IF_ERROR(remove_entry_at(dir.get(), entry.c_str()).status());
  dir.reset();
  if (::unlinkat(parent, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return Status::FromErrno(errno);
  return true;
}

}  // namespace

Status make_directories(const std::string& path) {
  if (path.empty()) return Status::FromErrno(ENOENT);
  ZR_RETURN_IF_ERROR(check_path(path));
  // Create each prefix in turn, from the root down.
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string prefix = path.substr(0, pos);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
    int err = errno;
    if (err == EEXIST) {
      ZR_ASSIGN_OR_RETURN(PathKind existing, path_kind(prefix));
      if (existing == PathKind::kDirectory) continue;
    }
    // An existing entry that is not a directory, or a real failure.
    if (err == EEXIST) return Status::FromErrno(pos == std::string::npos ? EEXIST : ENOTDIR);
    return Status::FromErrno(err);
  }
  return Status();
}

Status remove_empty_directory(const std::string& path) {
  ZR_RETURN_IF_ERROR(check_path(path));
  if (::rmdir(path.c_str()) != 0) return Status::FromErrno(errno);
  return Status();
}

Result<bool> remove_tree(const std::string& path) {
  ZR_RETURN_IF_ERROR(check_path(path));
  return remove_entry_at(AT_FDCWD, path.c_str());
}

Status rename_path(const std::string& from, const std::string& to) {
  ZR_RETURN_IF_ERROR(check_path(from));
  ZR_RETURN_IF_ERROR(check_path(to));
  if (::rename(from.c_str(), to.c_str()) != 0) return Status::FromErrno(errno);
  return Status();
}

Result<bool> rename_no_replace(const std::string& from, const std::string& to) {
  ZR_RETURN_IF_ERROR(check_path(from));
  ZR_RETURN_IF_ERROR(check_path(to));
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) return Status::FromErrno(errno);
  // Looked at without following a link: a link that leads nowhere is still
  // something that must not be replaced.
  Result<FileIdentity> existing = file_identity(to);
  if (existing.ok()) return false;
  if (!existing.status().is_missing()) return existing.status();
  ZR_RETURN_IF_ERROR(rename_path(from, to));
  return true;
}

namespace {

FileStatus status_of(const struct stat& st) {
  FileStatus status;
  status.kind = path_kind_of_mode(st.st_mode);
  status.size = static_cast<uint64_t>(st.st_size);
  status.permissions = st.st_mode & 07777;
  status.modified = FileTime{st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  return status;
}

}  // namespace

Result<FileStatus> file_status(const std::string& path) {
  ZR_RETURN_IF_ERROR(check_path(path));
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Status::FromErrno(errno);
  return status_of(st);
}

Result<FileStatus> descriptor_status(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return Status::FromErrno(errno);
  return status_of(st);
}

Result<FileIdentity> file_identity(const std::string& path) {
  ZR_RETURN_IF_ERROR(check_path(path));
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Status::FromErrno(errno);
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.mtime_s = st.st_mtim.tv_sec;
  id.mtime_ns = st.st_mtim.tv_nsec;
  id.ctime_s = st.st_ctim.tv_sec;
  id.ctime_ns = st.st_ctim.tv_nsec;
  return id;
}

}  // namespace zr::base
