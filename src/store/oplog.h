// The operation log: <zr_dir>/.zr/log, one "<timestamp> <operation> <detail>"
// line per logged operation. The timestamp is days since the epoch, then
// "-HH:MM:SS" of the UTC day.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::store {

// The log timestamp of `seconds` since the epoch (negative counts as 0).
std::string format_log_timestamp(int64_t seconds);

// One log line: "<timestamp> <operation> <detail>\n".
std::string format_log_line(int64_t seconds, std::string_view operation, std::string_view detail);

// Whole seconds since the epoch by the system clock (0 before the epoch).
int64_t unix_seconds_now();

// Appends one line to the log, creating the log but never the store
// directory. The operation and detail are written exactly as given. A log
// that is no regular file (a FIFO, say) is refused at once, never waited on.
base::Status oplog_append(std::string_view zr_dir, std::string_view operation, std::string_view detail);

// The same, with the clock reading supplied by the caller.
base::Status oplog_append_at(std::string_view zr_dir, std::string_view operation, std::string_view detail,
                             int64_t seconds);

}  // namespace zr::store
