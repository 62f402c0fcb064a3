#include "store/oplog.h"

#include <chrono>
#include <cstdio>

#include "base/file.h"
#include "store/store_paths.h"

namespace zr::store {

std::string format_log_timestamp(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  int64_t days = seconds / 86400;
  int64_t r = seconds % 86400;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld-%02d:%02d:%02d", static_cast<long long>(days), static_cast<int>(r / 3600),
                static_cast<int>(r % 3600 / 60), static_cast<int>(r % 60));
  return buf;
}

int64_t unix_seconds_now() {
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  return seconds < 0 ? 0 : seconds;
}

std::string format_log_line(int64_t seconds, std::string_view operation, std::string_view detail) {
  std::string line = format_log_timestamp(seconds);
  line.push_back(' ');
  line.append(operation);
  line.push_back(' ');
  line.append(detail);
  line.push_back('\n');
  return line;
}

base::Status oplog_append_at(std::string_view zr_dir, std::string_view operation, std::string_view detail,
                             int64_t seconds) {
  // The log is text for people, kept exactly as written: unlike the records
  // of the store it gets no line break before a line after a cut-off one.
  // Every writer opens the log the same way: a regular file or nothing.
  ZR_ASSIGN_OR_RETURN(base::RegularAppendFile log, base::open_regular_for_append(store_path(zr_dir, kLogName)));
  return base::write_all(log.fd.get(), format_log_line(seconds, operation, detail));
}

base::Status oplog_append(std::string_view zr_dir, std::string_view operation, std::string_view detail) {
  return oplog_append_at(zr_dir, operation, detail, unix_seconds_now());
}

}  // namespace zr::store
