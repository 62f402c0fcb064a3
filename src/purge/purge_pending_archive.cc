#include "purge/purge_pending_archive.h"

#include <utility>

#include "base/file_system.h"
#include "purge/purge_archive.h"

namespace zr::purge {

namespace {

// Records are gathered into writes of about this size.
constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kStampLength = 15;  // YYYYMMDDTHHMMSS

std::string records_path_of(const std::string& note_path) {
  std::string path = note_path;
  path.append(kPendingRecordsSuffix);
  return path;
}

// Removes the pending pair (records first, so that a note never names
// records that are half gone) when the data file was never replaced.
void discard_if_data_file_unchanged(const PendingNote& note, const std::string& note_path) {
  if (!data_file_unchanged(note)) return;
  if (!base::remove_file(records_path_of(note_path)).ok()) return;
  (void)base::remove_file(note_path);
}

}  // namespace

bool is_pending_note_name(std::string_view name) {
  if (!name.starts_with(kPendingArchivePrefix)) return false;
  std::string_view rest = name.substr(kPendingArchivePrefix.size());
  if (rest.size() <= kStampLength || rest[kStampLength] != '.') return false;
  return base::is_temp_file_name(rest, rest.substr(0, kStampLength + 1));
}

void discard_stale_pending_purge(const std::string& note_path) {
  const std::string records = records_path_of(note_path);
  base::Result<base::PathKind> records_kind = base::path_kind(records);
  if (!records_kind.ok()) return;  // cannot tell: the pair stays for a later clean
  if (*records_kind == base::PathKind::kMissing) {
    // Promoted (or never begun): the note alone is all that is left.
    (void)base::remove_file(note_path);
    return;
  }
  base::Result<base::MappedFile> text = base::MappedFile::Open(note_path);
  if (!text.ok()) return;
  std::optional<PendingNote> note = parse_pending_note(text->view());
  if (note) discard_if_data_file_unchanged(*note, note_path);
}

base::Result<PendingPurgeArchive> PendingPurgeArchive::Open(std::string_view zr_dir, int64_t seconds,
                                                            const PendingNote& note) {
  // Built up step by step: a step that fails leaves the destructor to take
  // back what the earlier ones made.
  PendingPurgeArchive pending;
  pending.note_ = note;
  pending.dir_ = archive_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::PathKind dir_kind, base::path_kind(pending.dir_));
  if (dir_kind == base::PathKind::kMissing) pending.dir_created_ = pending.dir_;
  ZR_RETURN_IF_ERROR(base::make_directories(pending.dir_));
  pending.stamp_ = purge_archive_stamp(seconds);
  pending.archive_path_ = purge_archive_path(zr_dir, pending.stamp_);

  std::string prefix(kPendingArchivePrefix);
  prefix.append(pending.stamp_).push_back('.');
  std::string note_path;
  ZR_ASSIGN_OR_RETURN(pending.note_fd_, base::create_temp_file(pending.dir_, prefix, note_path));
  pending.note_path_ = note_path;
  ZR_RETURN_IF_ERROR(base::write_all(pending.note_fd_.get(), format_pending_note(note)));
  pending.records_path_ = records_path_of(note_path);
  ZR_ASSIGN_OR_RETURN(pending.fd_, base::create_for_append(pending.records_path_));
  pending.buffer_.reserve(kBufferSize);
  return pending;
}

PendingPurgeArchive::PendingPurgeArchive(PendingPurgeArchive&& other) noexcept
    : dir_(std::move(other.dir_)),
      dir_created_(std::move(other.dir_created_)),
      note_path_(std::move(other.note_path_)),
      records_path_(std::move(other.records_path_)),
      archive_path_(std::move(other.archive_path_)),
      stamp_(std::move(other.stamp_)),
      note_(std::move(other.note_)),
      note_fd_(std::move(other.note_fd_)),
      fd_(std::move(other.fd_)),
      count_(other.count_),
      writeback_(other.writeback_),
      buffer_(std::move(other.buffer_)),
      settled_(std::exchange(other.settled_, true)) {}

PendingPurgeArchive::~PendingPurgeArchive() {
  if (settled_) return;
  fd_.reset();
  note_fd_.reset();
  if (!note_path_.empty()) discard_if_data_file_unchanged(note_, note_path_);
  // Only an empty directory goes; one that other archives reached meanwhile stays.
  if (!dir_created_.empty()) (void)base::remove_empty_directory(dir_created_);
}

base::Status PendingPurgeArchive::WriteBuffer() {
  base::Status status = writeback_.WriteAll(fd_.get(), buffer_);
  buffer_.clear();
  return status;
}

base::Status PendingPurgeArchive::AddRecords(std::string_view records, uint64_t count) {
  count_ += count;
  if (buffer_.size() + records.size() < kBufferSize) {
    buffer_.append(records);
    return base::Status();
  }
  if (!buffer_.empty()) ZR_RETURN_IF_ERROR(WriteBuffer());
  return writeback_.WriteAll(fd_.get(), records);
}

base::Status PendingPurgeArchive::Flush() {
  if (!buffer_.empty()) ZR_RETURN_IF_ERROR(WriteBuffer());
  ZR_RETURN_IF_ERROR(base::sync_file(fd_.get()));
  ZR_RETURN_IF_ERROR(base::sync_file(note_fd_.get()));
  // The note's and the records' names must survive a power cut as surely
  // as the data file's replacement will.
  return base::sync_directory(dir_);
}

base::Status PendingPurgeArchive::AppendRecordsToArchive() {
  ZR_ASSIGN_OR_RETURN(base::MappedFile records, base::MappedFile::Open(records_path_));
  ZR_ASSIGN_OR_RETURN(base::RegularAppendFile archive, base::open_regular_for_append(archive_path_));
  ZR_RETURN_IF_ERROR(base::append_lines(archive.fd.get(), records.view()));
  ZR_RETURN_IF_ERROR(base::sync_file(archive.fd.get()));
  return base::remove_file(records_path_);
}

base::Status PendingPurgeArchive::Promote() {
  // From here on the records are lines the data file no longer holds: they
  // are never discarded, whatever fails.
  settled_ = true;
  fd_.reset();
  note_fd_.reset();
  // No flush of the directory is needed for safety: if a power cut undoes
  // the rename or the removal, the records are still pending, and the note
  // either says the data file was replaced or is gone with them kept. No
  // other writer of the store runs during a purge, so a file system that
  // cannot refuse the rename atomically is as good.
  ZR_ASSIGN_OR_RETURN(bool renamed, base::rename_no_replace(records_path_, archive_path_));
  if (!renamed) ZR_RETURN_IF_ERROR(AppendRecordsToArchive());
  return base::remove_file(note_path_);
}

}  // namespace zr::purge
