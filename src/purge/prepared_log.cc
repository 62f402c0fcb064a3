#include "purge/prepared_log.h"

#include <utility>

#include "store/oplog.h"
#include "store/store_paths.h"

namespace zr::purge {

base::Result<PreparedLog> PreparedLog::Open(std::string_view zr_dir) {
  PreparedLog log;
  log.path_ = store::store_path(zr_dir, store::kLogName);
  ZR_ASSIGN_OR_RETURN(base::RegularAppendFile file, base::open_regular_for_append(log.path_));
  log.fd_ = std::move(file.fd);
  log.created_ = file.created;
  return log;
}

PreparedLog::PreparedLog(PreparedLog&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), created_(std::exchange(other.created_, false)) {}

PreparedLog::~PreparedLog() {
  if (!created_) return;
  fd_.reset();
  (void)base::remove_file(path_);
}

base::Status PreparedLog::Append(std::string_view operation, std::string_view detail, int64_t seconds) {
  created_ = false;
  return base::write_all(fd_.get(), store::format_log_line(seconds, operation, detail));
}

}  // namespace zr::purge
