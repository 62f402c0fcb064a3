// The operation log, opened before a multi-step change so that a log that
// cannot be written stops the change before anything else is touched.
//
// A purge must not remove lines and then fail to say so: it opens the log
// first, and writes its lines there once the data file is replaced. When
// the change is given up, a log this handle created is removed again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/file.h"
#include "base/status.h"

namespace zr::purge {

class PreparedLog {
 public:
  // Opens <zr_dir>/.zr/log for appending, creating it (never the store
  // directory) if missing. Errors carry the system's message.
  static base::Result<PreparedLog> Open(std::string_view zr_dir);

  PreparedLog(PreparedLog&& other) noexcept;
  PreparedLog& operator=(PreparedLog&&) = delete;
  ~PreparedLog();

  // Appends one log line stamped with the clock reading `seconds`, in the
  // log's own format, with one write-all call.
  base::Status Append(std::string_view operation, std::string_view detail, int64_t seconds);

  // Keeps a log this handle created even if nothing is appended.
  void Keep() { created_ = false; }

 private:
  PreparedLog() = default;

  std::string path_;
  base::UniqueFd fd_;
  bool created_ = false;  // removed on destruction unless kept or appended to
};

}  // namespace zr::purge
