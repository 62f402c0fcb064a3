#include "purge/archive.h"

#include <cstdio>
#include <utility>

#include "base/file.h"
#include "base/file_system.h"
#include "purge/note_text.h"
#include "store/store_paths.h"

namespace zr::purge {

namespace {

struct CivilDate {
  int64_t year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

// The proleptic Gregorian date of a day count since 1970-01-01: eras of
// 400 years (146097 days) repeat exactly, and within an era the years are
// counted from March so that the leap day falls at the end.
CivilDate civil_from_days(int64_t days) {
  days += 719468;  // days from 0000-03-01 to 1970-01-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const unsigned day = static_cast<unsigned>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

}  // namespace

std::string purge_archive_stamp(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  CivilDate date = civil_from_days(seconds / 86400);
  int64_t r = seconds % 86400;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld%02u%02uT%02d%02d%02d", static_cast<long long>(date.year), date.month,
                date.day, static_cast<int>(r / 3600), static_cast<int>(r % 3600 / 60), static_cast<int>(r % 60));
  return buf;
}

std::string archive_dir(std::string_view zr_dir) { return store::store_path(zr_dir, kArchiveDirName); }

std::string purge_archive_path(std::string_view zr_dir, std::string_view stamp) {
  std::string name(kPurgeArchivePrefix);
  name.append(stamp);
  return base::path_join(archive_dir(zr_dir), name);
}

void append_archive_record_of_value(std::string& out, std::string_view stamp, std::string_view compact_value) {
  // The record is an object of two members written with sorted keys; the
  // stamp is digits and "T", which need no escaping.
  out.append("{\"archived_at\":\"");
  out.append(stamp);
  out.append("\",\"line\":");
  out.append(compact_value);
  out.append("}\n");
}

std::string purge_archive_detail(uint64_t count, std::string_view path) {
  return "archived " + std::to_string(count) + " lines to " + std::string(path);
}

std::string format_pending_note(const PendingNote& note) {
  const FileIdentity& id = note.identity;
  std::string text;
  append_note_numbers(text, {static_cast<int64_t>(id.device), static_cast<int64_t>(id.inode),
                             static_cast<int64_t>(id.size), id.mtime_s, id.mtime_ns, id.ctime_s, id.ctime_ns});
  text.append(note.data_file);
  return text;
}

std::optional<PendingNote> parse_pending_note(std::string_view text) {
  PendingNote note;
  FileIdentity& id = note.identity;
  int64_t device = 0, inode = 0, size = 0;
  if (!take_note_number(text, ' ', device) || !take_note_number(text, ' ', inode) || !take_note_number(text, ' ', size) ||
      !take_note_number(text, ' ', id.mtime_s) || !take_note_number(text, ' ', id.mtime_ns) ||
      !take_note_number(text, ' ', id.ctime_s) || !take_note_number(text, '\n', id.ctime_ns) || text.empty()) {
    return std::nullopt;
  }
  id.device = static_cast<uint64_t>(device);
  id.inode = static_cast<uint64_t>(inode);
  id.size = static_cast<uint64_t>(size);
  note.data_file = std::string(text);
  return note;
}

bool data_file_unchanged(const PendingNote& note) {
  base::Result<FileIdentity> now = base::file_identity(note.data_file);
  return now.ok() && *now == note.identity;
}

namespace {

// Records are gathered into writes of about this size.
constexpr size_t kBufferSize = 64 * 1024;

// Removes the pending pair when the data file was never replaced.
void discard_if_data_file_unchanged(const PendingNote& note, const std::string& note_path) {
  if (data_file_unchanged(note)) remove_pending_pair(note_path);
}

}  // namespace

std::string pending_records_path(std::string_view note_path) {
  std::string path(note_path);
  path.append(kPendingRecordsSuffix);
  return path;
}

void remove_pending_pair(const std::string& note_path) {
  if (!base::remove_file(pending_records_path(note_path)).ok()) return;
  (void)base::remove_file(note_path);
}

bool is_pending_note_name(std::string_view name) {
  if (!name.starts_with(kPendingArchivePrefix)) return false;
  std::string_view rest = name.substr(kPendingArchivePrefix.size());
  if (rest.size() <= kPurgeStampLength || rest[kPurgeStampLength] != '.') return false;
  return base::is_temp_file_name(rest, rest.substr(0, kPurgeStampLength + 1));
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
  pending.records_path_ = pending_records_path(note_path);
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
  base::Status appended = base::append_lines(archive.fd.get(), records.view());
  if (appended.ok()) appended = base::sync_file(archive.fd.get());
  if (!appended.ok()) {
    // The records stay pending, so what got into the archive (a prefix, its
    // last line perhaps cut off) is taken out again: a restore from both
    // would bring those lines back twice.
    if (archive.created) {
      (void)base::remove_file(archive_path_);
    } else {
      (void)base::truncate_file(archive.fd.get(), archive.old_size);
    }
    return appended;
  }
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
