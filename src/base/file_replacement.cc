#include "base/file_replacement.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "base/file_system.h"

namespace zr::base {

namespace {

// The "Umask:" line of /proc/self/status (octal), if the kernel reports it.
std::optional<mode_t> umask_from_proc() {
  std::unique_ptr<FILE, int (*)(FILE*)> status(std::fopen("/proc/self/status", "re"), std::fclose);
  if (!status) return std::nullopt;
  char line[256];
  while (std::fgets(line, sizeof line, status.get()) != nullptr) {
    if (std::strncmp(line, "Umask:", 6) != 0) continue;
    char* end = nullptr;
    const unsigned long mask = std::strtoul(line + 6, &end, 8);
    if (end == line + 6) return std::nullopt;
    return static_cast<mode_t>(mask & 0777);
  }
  return std::nullopt;
}

}  // namespace

mode_t process_umask() {
  if (std::optional<mode_t> mask = umask_from_proc()) return *mask;
  // Without /proc (or on a kernel that does not report it) the only way to
  // learn the mask is to set it and put it back.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

mode_t new_file_mode() { return 0666 & ~process_umask(); }

std::string temp_prefix_beside(std::string_view target, std::string_view infix) {
  constexpr size_t kMaxNameLength = 255;
  size_t slash = target.rfind('/');
  std::string_view name = slash == std::string_view::npos ? target : target.substr(slash + 1);
  size_t room = kMaxNameLength - 1 - infix.size() - kTempNameUniqueLength;
  if (name.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name = name.substr(0, cut);
  }
  std::string prefix = ".";
  prefix.append(name);
  prefix.append(infix);
  return prefix;
}

Result<FileReplacement> FileReplacement::Create(std::string target, const std::string& temp_dir,
                                                std::string_view temp_prefix) {
  ZR_RETURN_IF_ERROR(check_path(target));
  std::string temp_path;
  ZR_ASSIGN_OR_RETURN(UniqueFd fd, create_temp_file(temp_dir, temp_prefix, temp_path));
  return FileReplacement(std::move(target), std::move(temp_path), std::move(fd));
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)),
      temp_path_(std::exchange(other.temp_path_, std::string())),
      fd_(std::move(other.fd_)),
      flushed_(other.flushed_) {}

void FileReplacement::StartFlush() { start_writeback(fd_.get(), 0, 0); }

Status FileReplacement::Finish(mode_t mode, Flush flush) {
  Status status;
  if (::fchmod(fd_.get(), mode) != 0) status = Status::FromErrno(errno);
  if (status.ok() && flush == Flush::kToDisk) status = sync_file(fd_.get());
  if (status.ok() && ::close(fd_.release()) != 0) status = Status::FromErrno(errno);
  if (!status.ok()) Abandon();
  flushed_ = status.ok() && flush == Flush::kToDisk;
  return status;
}

Status FileReplacement::Rename() {
  Status status = rename_path(temp_path_, target_);
  if (!status.ok()) {
    Abandon();
    return status;
  }
  temp_path_.clear();
  return Status();
}

namespace {
// The new name must reach the disk too, or a power cut after the caller
// moved on could bring the old file back. The replacement is done either
// way, and callers act on it (a purge commits its archive right after it),
// so a failed flush is not reported as a failed replacement. A file left
// unflushed on purpose (derived data) needs no flushed name either.
void flush_new_name(const std::string& dir) { (void)sync_directory(dir); }
}  // namespace

Status FileReplacement::Commit() {
  ZR_RETURN_IF_ERROR(Rename());
  if (flushed_) flush_new_name(parent_directory(target_));
  return Status();
}

void FileReplacement::Abandon() {
  fd_.reset();
  if (!temp_path_.empty()) (void)remove_file(temp_path_);
  temp_path_.clear();
}

Status ReplacementBatch::Add(FileReplacement replacement, mode_t mode) {
  ZR_RETURN_IF_ERROR(replacement.Finish(mode));
  finished_.push_back(std::move(replacement));
  return Status();
}

Status ReplacementBatch::Commit() {
  std::vector<FileReplacement> finished = std::move(finished_);
  finished_.clear();
  // One flush per directory after the whole run: shards and chunk files of
  // one batch mostly share theirs.
  std::vector<std::string> dirs;
  Status status;
  for (FileReplacement& replacement : finished) {
    status = replacement.Rename();
    if (!status.ok()) break;
    if (!replacement.flushed_) continue;
    std::string dir = parent_directory(replacement.target());
    if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(std::move(dir));
  }
  for (const std::string& dir : dirs) flush_new_name(dir);
  return status;
}

Status replace_file_atomically(const std::string& target, std::string_view data, const std::string& temp_dir,
                               std::string_view temp_prefix, Flush flush) {
  ZR_ASSIGN_OR_RETURN(FileReplacement replacement, FileReplacement::Create(target, temp_dir, temp_prefix));
  ZR_RETURN_IF_ERROR(replacement.Write(data));
  ZR_RETURN_IF_ERROR(replacement.Finish(new_file_mode(), flush));
  return replacement.Commit();
}

}  // namespace zr::base
