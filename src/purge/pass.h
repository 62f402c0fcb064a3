// The purge pass: removing from a data file every line whose content hash
// is in a set, and archiving what was removed.
//
// Lines are split at "\n" with one trailing "\r" dropped; lines left empty
// are discarded. A line is purged when it parses as JSON and the content
// hash of its value (SHA-256 of its compact, key-sorted text) is in the
// set; every other line, JSON or not, is kept and written back byte for byte
// from the mapped file, each followed by "\n".
//
// The keep-or-purge decisions are computed on the worker pool over
// contiguous chunks of the file and collected in line order, so the result
// does not depend on the number of threads: each decided chunk is written
// out, in chunk order, while later chunks are still being decided.
//
// The order in which the pass changes things, and what a crash at each point
// leaves, is the crash protocol described in archive.h. This unit also holds
// the pass's two instruments: the replacement of the data file
// (DataFileReplacement) and the log opened before anything changes
// (PreparedLog).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/file_replacement.h"
#include "base/status.h"
#include "base/writeback_pacer.h"
#include "purge/line_sets.h"

namespace zr::purge {

struct PurgeCounts {
  uint64_t purged = 0;
  uint64_t kept = 0;
  uint64_t archived = 0;
};

// Gives the detail of the "purge" log line from the number of lines purged.
using PurgeDetail = std::function<std::string(uint64_t purged)>;

// Purges `data_file` of the lines in `lines`. `seconds` is the run's one
// clock reading, used for the archive's name and both log lines. An absent
// or empty data file fails with "data file not found: <data_file>".
base::Result<PurgeCounts> purge_lines_by_hash(std::string_view zr_dir, const std::string& data_file,
                                              const LineSet& lines, const PurgeDetail& purge_detail, int64_t seconds);

// The new content of a data file, written beside it and put in place.
//
// The new bytes go to a file with a fresh name, created exclusively in the
// data file's own directory (so the final rename stays on one file system
// and no existing file is ever truncated or overwritten, whatever its name),
// through an output buffer. Writeback to the disk is started as the file
// grows, so that the final flush finds little left to do. Commit gives the
// new file the data file's permission bits, flushes it to disk and renames it
// over the data file. Until then the data file is untouched; an abandoned
// replacement (an error, or destruction without Commit) removes the
// temporary file.
class DataFileReplacement {
 public:
  // The output buffer's size: lines are gathered into writes of this size.
  static constexpr size_t kBufferSize = 8192;

  static base::Result<DataFileReplacement> Create(const std::string& data_file);

  DataFileReplacement(DataFileReplacement&& other) noexcept = default;
  DataFileReplacement& operator=(DataFileReplacement&&) = delete;

  // Appends `line` and a line feed.
  base::Status WriteLine(std::string_view line);
  // Flushes the buffer and the file, then closes it; the data file is still
  // untouched.
  base::Status Finish();
  // Renames the finished file over the data file.
  base::Status Commit();

 private:
  DataFileReplacement(base::FileReplacement file, mode_t mode) : file_(std::move(file)), mode_(mode) {}
  base::Status Drain();
  base::Status Write(std::string_view bytes);

  base::FileReplacement file_;
  mode_t mode_ = 0;
  std::string buffer_;
  base::WritebackPacer writeback_;
};

// The operation log, opened before a multi-step change so that a log that
// cannot be written stops the change before anything else is touched. When
// the change is given up, a log this handle created is removed again.
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
