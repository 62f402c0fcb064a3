// Purge archives, and how a purge keeps its removed lines safe across a crash.
//
// Archive: <zr_dir>/.zr/archive/purge.YYYYMMDDTHHMMSS, one JSON Lines file
// per second in which a purge removed lines. Each removed line becomes one
// record {"archived_at":<stamp>,"line":<value>} (keys sorted, compact), in
// data-file order: `line` is the line's parsed JSON value written anew, not
// its original text (null if it does not parse). Two purges within one second
// append to the same file. Restoring (reverse.h) reads the newest archive
// back.
//
// The crash protocol, the one description of it. A purge must never leave an
// archive record of a line that is still in the data file (restoring it would
// add the line a second time), nor lose a line it removed. So a run:
//   1. opens the operation log (pass.h, PreparedLog): a log that cannot be
//      written stops the run before anything changes;
//   2. writes the kept lines to a temporary file beside the data file (beside
//      the file a symbolic link names, when the data file is one);
//   3. writes the removed lines' records to a pending file of the archive
//      directory, beside a note on the data file (its real path and the
//      identity it had when the run began), and flushes both to disk;
//   4. renames the temporary file over the data file;
//   5. promotes the pending records into archive/purge.<stamp>: by a rename
//      that never replaces when no archive of that second exists, or else by
//      appending them to it and removing the pending file; then removes the
//      note;
//   6. writes the two log lines.
// A failure before step 4 leaves the data file, the archives and the log as
// they were (the run removes its pending pair and a log it created). A crash
// leaves the pair behind, and what it holds depends on when it came:
//   - before step 4, the data file still holds the records' lines. If the
//     data file still has the note's identity, that is plain. If it changed
//     since, typically because the purge ran again and removed (and
//     archived) the same lines, the records are found again by content: in
//     the data file or in a purge archive of the pair's second or later;
//   - after step 4, the records are the only copy of the removed lines
//     (unless the promotion's append completed and only the pending file's
//     removal was lost, in which case they are in the archive as well).
// Such a pair is stale when every record is found elsewhere, and the next
// purge of the same data file or housekeeping (clean) removes it; the rule,
// which counts copies so that one archived copy never clears two removals,
// is in stale_pending.h. A pair that is the only copy of some removed line
// stays until someone restores it by hand, and is never promoted
// automatically (a crash during a same-second append would double its
// lines); a restore by hand then never adds a line twice.
//
// Names, in the archive directory, never beginning with "purge." so that
// restoring never takes them:
//   .purge-pending.<stamp>.XXXXXX        the note
//   .purge-pending.<stamp>.XXXXXX.lines  the records, in the archive format
// Note file: one line "<dev> <ino> <size> <mtime s> <mtime ns> <ctime s>
// <ctime ns>" in decimal, then the path's bytes up to the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "base/file.h"
#include "base/file_system.h"
#include "base/status.h"
#include "base/writeback_pacer.h"

namespace zr::purge {

inline constexpr std::string_view kArchiveDirName = "archive";
inline constexpr std::string_view kPurgeArchivePrefix = "purge.";

// The length of a time stamp: "YYYYMMDDTHHMMSS".
inline constexpr size_t kPurgeStampLength = 15;

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

// The "purge_archive" log detail.
std::string purge_archive_detail(uint64_t count, std::string_view path);

// The identity kept in a note: what base::file_identity reads (a symbolic
// link is not followed).
using FileIdentity = base::FileIdentity;

// What a run writes down about the data file it replaces (the note of the
// crash protocol above).
struct PendingNote {
  std::string data_file;  // absolute, no symbolic link in it
  FileIdentity identity;  // when the run began
};

std::string format_pending_note(const PendingNote& note);
// nullopt when `text` is not a whole note.
std::optional<PendingNote> parse_pending_note(std::string_view text);

// True only when the data file still has the identity of the note: it was
// not replaced, so the run's pending records are lines it still holds.
// Anything else (another identity, no file, a path that cannot be examined)
// counts as replaced, which keeps the records.
bool data_file_unchanged(const PendingNote& note);

inline constexpr std::string_view kPendingArchivePrefix = ".purge-pending.";
inline constexpr std::string_view kPendingRecordsSuffix = ".lines";

// True for the name of a pending note (not of its records).
bool is_pending_note_name(std::string_view name);
// The records file beside the pending note at `note_path`.
std::string pending_records_path(std::string_view note_path);
// Removes a pending pair: its records first, so that a note never names
// records that are half gone; the note stays when the records cannot go.
void remove_pending_pair(const std::string& note_path);

// The archive records of one purge run, pending until the data file has
// been replaced (steps 3 and 5 of the crash protocol above).
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
  base::WritebackPacer writeback_;
  std::string buffer_;
  bool settled_ = false;  // promoted, or moved from: nothing left to discard
};

}  // namespace zr::purge
