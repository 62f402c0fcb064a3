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
// Nothing is changed until everything that can fail has been done: the log
// is opened first, the kept lines go to a temporary file beside the data
// file (beside the file a symbolic link names, when the data file is one),
// the removed lines go to pending records in the archive directory, and
// only then is the temporary file renamed over the data file, the records
// moved into the archive and the two log lines written. A failure before
// the rename leaves the data file, the archives and the log as they were;
// a crash after it leaves the removed lines pending, never in the archive
// twice and never lost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "purge/line_set.h"

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

}  // namespace zr::purge
