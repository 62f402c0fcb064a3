// Purge archives: <zr_dir>/.zr/archive/purge.YYYYMMDDTHHMMSS, one JSON Lines
// file per second in which a purge removed lines.
//
// Each removed line becomes one record {"archived_at":<stamp>,"line":<value>}
// (keys sorted, compact), in data-file order: `line` is the line's parsed
// JSON value written anew, not its original text (null if it does not
// parse). Two purges within one second append to the same file. Restoring
// reads the newest archive back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/file.h"
#include "base/status.h"
#include "removal/writeback.h"

namespace zr::removal {

inline constexpr std::string_view kArchiveDirName = "archive";
inline constexpr std::string_view kPurgeArchivePrefix = "purge.";

// "YYYYMMDDTHHMMSS" (UTC, Gregorian calendar) of a clock reading in seconds
// since the epoch; a reading before the epoch counts as 0.
std::string purge_archive_stamp(int64_t seconds);

// <zr_dir>/.zr/archive
std::string archive_dir(std::string_view zr_dir);
// <zr_dir>/.zr/archive/purge.<stamp>
std::string purge_archive_path(std::string_view zr_dir, std::string_view stamp);

// Appends the compact text of one archive record, "\n" included, for a
// removed line given as the compact text of its value.
void append_archive_record_of_value(std::string& out, std::string_view stamp, std::string_view compact_value);

// Appends records to the archive of one run and can take them back: until
// Commit, a failure of the run can restore the archive directory as it was
// (a new file removed, an existing one cut back to its old length).
class PurgeArchiveWriter {
 public:
  // Creates the archive directory (with its parents) and opens the file for
  // appending, creating it if missing.
  static base::Result<PurgeArchiveWriter> Open(std::string_view zr_dir, int64_t seconds);

  PurgeArchiveWriter(PurgeArchiveWriter&& other) noexcept;
  PurgeArchiveWriter& operator=(PurgeArchiveWriter&&) = delete;
  ~PurgeArchiveWriter();

  // The archive's time stamp, for records built elsewhere.
  const std::string& stamp() const { return stamp_; }

  // Buffers `count` records already formatted with stamp() (the parsed
  // line's compact text is what hashing a line produces anyway).
  base::Status AddRecords(std::string_view records, uint64_t count);
  // Writes out the buffer and flushes the file to disk.
  base::Status Flush();
  // Keeps what was written; the writer no longer rolls back.
  void Commit();
  // Undoes every append of this writer (also done on destruction unless
  // committed). Best effort: nothing more can be done when it fails.
  void Rollback();

  const std::string& path() const { return path_; }
  uint64_t count() const { return count_; }

 private:
  PurgeArchiveWriter() = default;
  base::Status WriteBuffer();
  base::Status WriteOut(std::string_view bytes);

  std::string path_;
  std::string stamp_;
  std::string dir_created_;  // the archive directory, when this run created it
  base::UniqueFd fd_;
  bool file_created_ = false;
  uint64_t old_size_ = 0;
  uint64_t count_ = 0;
  WritebackPacer writeback_;
  bool active_ = false;  // rolls back on destruction
  std::string buffer_;
};

// The "purge_archive" log detail.
std::string purge_archive_detail(uint64_t count, std::string_view path);

}  // namespace zr::removal
