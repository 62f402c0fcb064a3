#include "removal/purge_archive.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "store/init.h"
#include "store/store_paths.h"

namespace zr::removal {

namespace {

// Records are gathered into writes of about this size.
constexpr size_t kArchiveBufferSize = 64 * 1024;

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

PurgeArchiveWriter::PurgeArchiveWriter(PurgeArchiveWriter&& other) noexcept
    : path_(std::move(other.path_)),
      stamp_(std::move(other.stamp_)),
      dir_created_(std::move(other.dir_created_)),
      fd_(std::move(other.fd_)),
      file_created_(other.file_created_),
      old_size_(other.old_size_),
      count_(other.count_),
      writeback_(other.writeback_),
      active_(std::exchange(other.active_, false)),
      buffer_(std::move(other.buffer_)) {}

PurgeArchiveWriter::~PurgeArchiveWriter() {
  if (active_) Rollback();
}

base::Result<PurgeArchiveWriter> PurgeArchiveWriter::Open(std::string_view zr_dir, int64_t seconds) {
  PurgeArchiveWriter writer;
  const std::string dir = archive_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::PathKind dir_kind, base::path_kind(dir));
  if (dir_kind == base::PathKind::kMissing) writer.dir_created_ = dir;
  writer.active_ = true;
  ZR_RETURN_IF_ERROR(store::create_directories(dir));
  writer.stamp_ = purge_archive_stamp(seconds);
  writer.path_ = purge_archive_path(zr_dir, writer.stamp_);
  // An archive of the same second is appended to and must be cut back to
  // its old length on failure; a new one is removed instead.
  ZR_ASSIGN_OR_RETURN(base::RegularAppendFile file, base::open_regular_for_append(writer.path_));
  writer.fd_ = std::move(file.fd);
  writer.file_created_ = file.created;
  writer.old_size_ = file.old_size;
  writer.buffer_.reserve(kArchiveBufferSize);
  // Records go in through the buffer, so its first write carries the line
  // break that keeps a cut-off record from swallowing this run's first one.
  // A purge runs alone, so nobody appends between this check and that write.
  if (!writer.file_created_ && base::ends_mid_line(writer.fd_.get())) writer.buffer_.push_back('\n');
  return writer;
}

base::Status PurgeArchiveWriter::WriteOut(std::string_view bytes) { return writeback_.WriteAll(fd_.get(), bytes); }

base::Status PurgeArchiveWriter::WriteBuffer() {
  base::Status status = WriteOut(buffer_);
  buffer_.clear();
  return status;
}

base::Status PurgeArchiveWriter::AddRecords(std::string_view records, uint64_t count) {
  count_ += count;
  if (buffer_.size() + records.size() < kArchiveBufferSize) {
    buffer_.append(records);
    return base::Status();
  }
  if (!buffer_.empty()) ZR_RETURN_IF_ERROR(WriteBuffer());
  return WriteOut(records);
}

base::Status PurgeArchiveWriter::Flush() {
  if (!buffer_.empty()) ZR_RETURN_IF_ERROR(WriteBuffer());
  if (::fsync(fd_.get()) != 0) return base::Status::FromErrno(errno);
  return base::Status();
}

void PurgeArchiveWriter::Commit() { active_ = false; }

void PurgeArchiveWriter::Rollback() {
  active_ = false;
  buffer_.clear();
  if (file_created_) {
    fd_.reset();
    (void)base::remove_file(path_);
  } else if (fd_.valid()) {
    (void)!::ftruncate(fd_.get(), static_cast<off_t>(old_size_));
    fd_.reset();
  }
  // Only an empty directory goes; one that other archives reached meanwhile stays.
  if (!dir_created_.empty()) (void)::rmdir(dir_created_.c_str());
}

}  // namespace zr::removal
