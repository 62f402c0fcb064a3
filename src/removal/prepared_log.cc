#include "removal/prepared_log.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "store/oplog.h"
#include "store/store_paths.h"

namespace zr::removal {

Result<PreparedLog> PreparedLog::Open(std::string_view zr_dir) {
  PreparedLog log;
  log.path_ = store_path(zr_dir, kLogName);
  if (log.path_.find('\0') != std::string::npos) return Status::Error("path contains a NUL byte");
  // O_NONBLOCK: a FIFO where the log should be must not make the call wait
  // for a reader; it is refused below like anything else that is no file.
  log.fd_ = UniqueFd(::open(log.path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK));
  if (!log.fd_.valid() && errno == ENOENT) {
    log.fd_ = UniqueFd(::open(log.path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    log.created_ = log.fd_.valid();
  }
  if (!log.fd_.valid()) return Status::FromErrno(errno);
  struct stat st;
  if (::fstat(log.fd_.get(), &st) != 0) return Status::FromErrno(errno);
  if (!S_ISREG(st.st_mode)) return Status::FromErrno(ENODEV);
  return log;
}

PreparedLog::PreparedLog(PreparedLog&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), created_(std::exchange(other.created_, false)) {}

PreparedLog::~PreparedLog() {
  if (!created_) return;
  fd_.reset();
  (void)remove_file(path_);
}

Status PreparedLog::Append(std::string_view operation, std::string_view detail, int64_t seconds) {
  created_ = false;
  return write_all(fd_.get(), format_log_line(seconds, operation, detail));
}

}  // namespace zr::removal
