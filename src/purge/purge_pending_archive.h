// The archive records of a purge run, kept apart until the data file has
// been replaced.
//
// A purge must never leave an archive record of a line that is still in the
// data file (restoring it would add the line a second time), nor lose a line
// it removed. So the run writes its records to a pending file in the archive
// directory, beside a note on the data file (purge_pending_note.h), and
// flushes both to disk before the data file is replaced. Only then does
// Promote make the records part of archive/purge.<stamp>: by a rename when
// no archive of that second exists, or else by appending them to it and
// removing the pending file.
//
// Names, in the archive directory, never beginning with "purge." so that
// restoring never takes them:
//   .purge-pending.<stamp>.XXXXXX        the note
//   .purge-pending.<stamp>.XXXXXX.lines  the records, in the archive format
//
// After a crash, a pending pair whose data file was never replaced holds
// lines that are still in the data file and is removed (by the run itself
// when it fails, by housekeeping after a crash); otherwise the records are
// removed lines and stay where they are until someone restores them by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/file.h"
#include "base/status.h"
#include "purge/purge_pending_note.h"
#include "purge/writeback.h"

namespace zr::purge {

inline constexpr std::string_view kPendingArchivePrefix = ".purge-pending.";
inline constexpr std::string_view kPendingRecordsSuffix = ".lines";

// True for the name of a pending note (not of its records).
bool is_pending_note_name(std::string_view name);

// Removes the pending pair of the note at `note_path` when its data file was
// never replaced, and a note whose records are gone; leaves everything else.
// Best effort: what cannot be read or removed stays.
void discard_stale_pending_purge(const std::string& note_path);

class PendingPurgeArchive {
 public:
  // Creates the archive directory (with its parents), the note and the
  // empty pending file. `seconds` is the run's clock reading.
  static base::Result<PendingPurgeArchive> Open(std::string_view zr_dir, int64_t seconds, const PendingNote& note);

  PendingPurgeArchive(PendingPurgeArchive&& other) noexcept;
  PendingPurgeArchive& operator=(PendingPurgeArchive&&) = delete;
  // A run that ends before Promote removes its pending pair, unless the data
  // file was replaced after all.
  ~PendingPurgeArchive();

  // The archive's time stamp, for records built elsewhere.
  const std::string& stamp() const { return stamp_; }

  // Adds `count` records already formatted with stamp().
  base::Status AddRecords(std::string_view records, uint64_t count);
  // Writes out what is buffered and flushes the note, the pending file and
  // the archive directory to disk.
  base::Status Flush();
  // After the data file was replaced: moves the records into the archive
  // and removes the note. On failure the records stay pending.
  base::Status Promote();

  // archive/purge.<stamp>
  const std::string& archive_path() const { return archive_path_; }
  uint64_t count() const { return count_; }

 private:
  PendingPurgeArchive() = default;
  base::Status WriteBuffer();
  base::Status AppendRecordsToArchive();

  std::string dir_;
  std::string dir_created_;  // the archive directory, when this run created it
  std::string note_path_;
  std::string records_path_;
  std::string archive_path_;
  std::string stamp_;
  PendingNote note_;
  base::UniqueFd note_fd_;  // flushed with the records
  base::UniqueFd fd_;
  uint64_t count_ = 0;
  WritebackPacer writeback_;
  std::string buffer_;
  bool settled_ = false;  // promoted, or moved from: nothing left to discard
};

}  // namespace zr::purge
