#include "purge/pass.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "base/file.h"
#include "base/file_system.h"
#include "base/worker_pool.h"
#include "json/parse.h"
#include "purge/archive.h"
#include "purge/stale_pending.h"
#include "store/oplog.h"
#include "store/sha256.h"
#include "store/store_paths.h"

namespace zr::purge {

namespace {

// Chunks of the data file handed to the pool: several per thread, so that a
// slow chunk does not leave the other threads idle and the writing of early
// chunks overlaps the deciding of later ones, but large enough that per-chunk
// set-up is negligible.
constexpr size_t kMinChunkBytes = 64 * 1024;
constexpr size_t kMaxChunkBytes = 2 * 1024 * 1024;
constexpr size_t kChunksPerThread = 16;

// Calls fn(line, readable_after) for every non-empty line that starts in
// [begin, end) of `text`, one trailing "\r" dropped; `readable_after` counts
// the bytes of the text after the line, which the parser may read ahead.
template <typename Fn>
void for_each_data_line(std::string_view text, size_t begin, size_t end, Fn&& fn) {
  const char* base = text.data();
  size_t pos = begin;
  while (pos < end) {
    const void* nl = std::memchr(base + pos, '\n', text.size() - pos);
    size_t stop = nl == nullptr ? text.size() : static_cast<size_t>(static_cast<const char*>(nl) - base);
    size_t line_end = stop;
    if (line_end > pos && base[line_end - 1] == '\r') --line_end;
    if (line_end > pos) fn(text.substr(pos, line_end - pos), text.size() - line_end);
    pos = stop + 1;
  }
}

// Chunk boundaries: 0, then positions just after a "\n", then the size.
std::vector<size_t> chunk_bounds(std::string_view text) {
  size_t threads = std::max<size_t>(1, base::WorkerPool::ThreadCount());
  size_t target = std::clamp(text.size() / (threads * kChunksPerThread), kMinChunkBytes, kMaxChunkBytes);
  std::vector<size_t> bounds{0};
  size_t pos = 0;
  while (text.size() - pos > target) {
    const void* nl = std::memchr(text.data() + pos + target, '\n', text.size() - pos - target);
    if (nl == nullptr) break;
    pos = static_cast<size_t>(static_cast<const char*>(nl) - text.data()) + 1;
    bounds.push_back(pos);
  }
  if (bounds.back() != text.size()) bounds.push_back(text.size());
  return bounds;
}

// What deciding one chunk produced: a byte per non-empty line (1: purge)
// and the archive records of the purged lines, ready to be written.
struct ChunkOutcome {
  std::vector<uint8_t> purge;
  std::string archive_records;
  uint64_t purged = 0;
};

// One purge pass over a mapped data file. Chunks are decided on the pool;
// each decided chunk is written out in chunk order by whichever thread
// completes the chunk that is next in line, so writing overlaps deciding
// and a thread never waits for another.
class Pass {
 public:
  Pass(std::string_view text, std::vector<size_t> bounds, const LineSet& lines, DataFileReplacement& output,
       std::string_view zr_dir, const PendingNote& note, int64_t seconds)
      : text_(text),
        bounds_(std::move(bounds)),
        lines_(lines),
        output_(output),
        zr_dir_(zr_dir),
        note_(note),
        seconds_(seconds),
        stamp_(purge_archive_stamp(seconds)),
        outcomes_(chunk_count()),
        decided_(chunk_count(), 0) {}

  size_t chunk_count() const { return bounds_.size() - 1; }

  // Decides chunk `c`, then writes every chunk that has become writable.
  void Run(size_t c) {
    Decide(c);
    std::unique_lock<std::mutex> lock(mu_);
    decided_[c] = 1;
    if (writing_) return;  // the thread that is writing will get to it
    writing_ = true;
    while (next_ < chunk_count() && decided_[next_]) {
      size_t i = next_;
      lock.unlock();
      Write(i);
      lock.lock();
      ++next_;
    }
    writing_ = false;
  }

  const base::Status& status() const { return status_; }
  uint64_t kept() const { return kept_; }
  uint64_t purged() const { return purged_; }
  std::optional<PendingPurgeArchive>& archive() { return archive_; }

 private:
  // Parses and hashes each line with buffers of its own, reused for every
  // line: nothing is allocated per line once they are warm.
  void Decide(size_t c) {
    ChunkOutcome& out = outcomes_[c];
    out.purge.reserve((bounds_[c + 1] - bounds_[c]) / 128 + 1);
    if (lines_.matches_nothing()) {
      for_each_data_line(text_, bounds_[c], bounds_[c + 1], [&](std::string_view, size_t) { out.purge.push_back(0); });
      return;
    }
    json::Parser parser;
    std::string canonical;
    canonical.reserve(4096);
    store::HashKey digest;
    for_each_data_line(text_, bounds_[c], bounds_[c + 1], [&](std::string_view line, size_t readable_after) {
      bool purge = false;
      if (parser.Canonicalize(line, readable_after, canonical)) {
        store::sha256(canonical, digest);
        purge = lines_.ContainsDigest(digest);
      }
      out.purge.push_back(purge ? 1 : 0);
      if (purge) {
        append_archive_record_of_value(out.archive_records, stamp_, canonical);
        ++out.purged;
      }
    });
  }

  // Called for one chunk at a time, in chunk order.
  void Write(size_t c) {
    ChunkOutcome outcome = std::move(outcomes_[c]);
    if (!status_.ok()) return;
    size_t i = 0;
    for_each_data_line(text_, bounds_[c], bounds_[c + 1], [&](std::string_view line, size_t) {
      if (outcome.purge[i++] || !status_.ok()) return;
      status_ = output_.WriteLine(line);
      ++kept_;
    });
    ReleaseBefore(bounds_[c + 1]);
    if (!status_.ok() || outcome.purged == 0) return;
    // The archive is begun when the first removed line reaches it, so a
    // purge that removes nothing makes none.
    if (!archive_) {
      base::Result<PendingPurgeArchive> opened = PendingPurgeArchive::Open(zr_dir_, seconds_, note_);
      if (!opened.ok()) {
        status_ = opened.status();
        return;
      }
      archive_.emplace(std::move(opened).value());
    }
    status_ = archive_->AddRecords(outcome.archive_records, outcome.purged);
    purged_ += outcome.purged;
  }

  // The mapped pages below `offset` are no longer needed: every line that
  // starts there has been decided and written, and parsing only ever reads
  // ahead. Giving them back as the pass goes keeps the memory the pass holds
  // to the chunks in flight, however large the data file. (Were a page read
  // again, it would come back from the unchanged file.)
  void ReleaseBefore(size_t offset) {
    const size_t page = base::page_size();
    size_t end = offset / page * page;
    if (end <= released_) return;
    base::release_mapped_pages(text_.data() + released_, end - released_);
    released_ = end;
  }

  const std::string_view text_;
  const std::vector<size_t> bounds_;
  const LineSet& lines_;
  DataFileReplacement& output_;
  const std::string_view zr_dir_;
  const PendingNote& note_;
  const int64_t seconds_;
  const std::string stamp_;
  std::vector<ChunkOutcome> outcomes_;  // slot c is written by the thread deciding chunk c

  std::mutex mu_;
  std::vector<uint8_t> decided_;  // guarded by mu_
  size_t next_ = 0;               // the next chunk to write; guarded by mu_
  bool writing_ = false;          // a thread is writing; guarded by mu_

  // Touched only by the thread that is writing.
  base::Status status_;
  uint64_t kept_ = 0;
  uint64_t purged_ = 0;
  size_t released_ = 0;  // mapped bytes given back so far
  std::optional<PendingPurgeArchive> archive_;
};

// The purge's own failures name the data file; the system's text alone
// ("Permission denied") would leave the user guessing which file it meant.
base::Status about_data_file(const base::Status& cause, std::string_view what, const std::string& data_file) {
  std::string outer(what);
  outer.append(data_file).append(": ").append(cause.message());
  return cause.WithContext(std::move(outer));
}

// The data file as the pass reads it, and what the pending records must
// note about it.
struct DataFileToPurge {
  PendingNote note;
  base::MappedFile bytes;
};

// Through a symbolic link (or a chain of them) the file finally named is
// purged: it is read here, and the new content is later renamed over it in
// its own directory, so the link stays a link.
base::Result<DataFileToPurge> read_data_file(const std::string& data_file, const base::Status& not_found) {
  constexpr std::string_view kCannotRead = "cannot read data file ";
  base::Result<base::PathKind> kind = base::path_kind(data_file);
  if (!kind.ok()) return about_data_file(kind.status(), kCannotRead, data_file);
  if (*kind == base::PathKind::kMissing) return not_found;
  DataFileToPurge file;
  base::Result<std::string> target = base::resolve_path(data_file);
  if (!target.ok()) return about_data_file(target.status(), kCannotRead, data_file);
  file.note.data_file = std::move(target).value();
  base::Result<FileIdentity> identity = base::file_identity(file.note.data_file);
  if (!identity.ok()) return about_data_file(identity.status(), kCannotRead, data_file);
  file.note.identity = *identity;
  base::Result<base::MappedFile> mapped = base::MappedFile::Open(file.note.data_file);
  if (!mapped.ok()) return about_data_file(mapped.status(), kCannotRead, data_file);
  file.bytes = std::move(mapped).value();
  if (file.bytes.size() == 0) return not_found;
  return file;
}

}  // namespace

base::Result<PurgeCounts> purge_lines_by_hash(std::string_view zr_dir, const std::string& data_file,
                                              const LineSet& lines, const PurgeDetail& purge_detail, int64_t seconds) {
  ZR_ASSIGN_OR_RETURN(const DataFileToPurge file,
                      read_data_file(data_file, base::Status::Error("data file not found: " + data_file)));
  const PendingNote& note = file.note;
  const std::string_view data = file.bytes.view();

  // Everything that can fail up front is prepared before anything changes.
  ZR_ASSIGN_OR_RETURN(PreparedLog log, PreparedLog::Open(zr_dir));
  base::Result<DataFileReplacement> created = DataFileReplacement::Create(note.data_file);
  if (!created.ok()) {
    return about_data_file(created.status(),
                           "cannot create a temporary file in " + base::parent_directory(note.data_file) + " to purge ",
                           data_file);
  }
  DataFileReplacement replacement = std::move(created).value();

  Pass pass(data, chunk_bounds(data), lines, replacement, zr_dir, note, seconds);
  base::WorkerPool::Run(pass.chunk_count(), [&](size_t c) { pass.Run(c); });
  ZR_RETURN_IF_ERROR(pass.status());
  // Both files must reach the disk before the rename; their flushes wait on
  // the disk, so they wait together.
  std::optional<PendingPurgeArchive>& archive = pass.archive();
  base::Status flushed[2];
  base::WorkerPool::Run(archive ? 2 : 1,
                        [&](size_t i) { flushed[i] = i == 0 ? replacement.Finish() : archive->Flush(); });
  ZR_RETURN_IF_ERROR(flushed[0]);
  ZR_RETURN_IF_ERROR(flushed[1]);

  // Until the rename a failure has changed nothing: the temporary file, the
  // pending records and a log file this run created go away as their owners
  // are destroyed. From here on the purge is done.
  base::Status replaced = replacement.Commit();
  if (!replaced.ok()) return about_data_file(replaced, "cannot replace data file ", data_file);
  log.Keep();
  PurgeCounts counts{pass.purged(), pass.kept(), 0};
  base::Status archived;
  if (archive) {
    counts.archived = archive->count();
    archived = archive->Promote();
    if (archived.ok()) {
      ZR_RETURN_IF_ERROR(
          log.Append("purge_archive", purge_archive_detail(counts.archived, archive->archive_path()), seconds));
    }
  }
  ZR_RETURN_IF_ERROR(log.Append("purge", purge_detail(counts.purged), seconds));
  // Records that could not join the archive stay pending, never lost.
  ZR_RETURN_IF_ERROR(archived);
  // A run of this file that was killed earlier may have left records of
  // lines this run removed (and archived) again, or that the file still
  // holds: they must not be restored a second time.
  discard_stale_pending_purges(zr_dir, note.data_file);
  return counts;
}

namespace {

// A leftover beside a data file tells where it came from.
constexpr std::string_view kTempInfix = ".purge-";

}  // namespace

base::Result<DataFileReplacement> DataFileReplacement::Create(const std::string& data_file) {
  ZR_ASSIGN_OR_RETURN(const base::FileStatus data_status, base::file_status(data_file));
  ZR_ASSIGN_OR_RETURN(base::FileReplacement file,
                      base::FileReplacement::Create(data_file, base::parent_directory(data_file),
                                                    base::temp_prefix_beside(data_file, kTempInfix)));
  DataFileReplacement replacement(std::move(file), data_status.permissions);
  replacement.buffer_.reserve(kBufferSize);
  return replacement;
}

base::Status DataFileReplacement::Write(std::string_view bytes) { return writeback_.WriteAll(file_.fd(), bytes); }

base::Status DataFileReplacement::Drain() {
  base::Status status = Write(buffer_);
  buffer_.clear();
  return status;
}

base::Status DataFileReplacement::WriteLine(std::string_view line) {
  if (buffer_.size() + line.size() + 1 > kBufferSize) {
    ZR_RETURN_IF_ERROR(Drain());
    // A line longer than the buffer goes out directly.
    if (line.size() + 1 > kBufferSize) {
      ZR_RETURN_IF_ERROR(Write(line));
      return Write("\n");
    }
  }
  buffer_.append(line);
  buffer_.push_back('\n');
  return base::Status();
}

base::Status DataFileReplacement::Finish() {
  if (!buffer_.empty()) ZR_RETURN_IF_ERROR(Drain());
  // The replacement keeps the data file's permissions (the new file starts
  // private), and reaches the disk before it can take the data file's place.
  return file_.Finish(mode_);
}

base::Status DataFileReplacement::Commit() { return file_.Commit(); }

base::Result<PreparedLog> PreparedLog::Open(std::string_view zr_dir) {
  PreparedLog log;
  log.path_ = store::store_path(zr_dir, store::kLogName);
  ZR_ASSIGN_OR_RETURN(base::RegularAppendFile file, base::open_regular_for_append(log.path_));
  log.fd_ = std::move(file.fd);
  log.created_ = file.created;
  return log;
}

PreparedLog::PreparedLog(PreparedLog&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), created_(std::exchange(other.created_, false)) {}

PreparedLog::~PreparedLog() {
  if (!created_) return;
  fd_.reset();
  (void)base::remove_file(path_);
}

base::Status PreparedLog::Append(std::string_view operation, std::string_view detail, int64_t seconds) {
  created_ = false;
  return base::write_all(fd_.get(), store::format_log_line(seconds, operation, detail));
}

}  // namespace zr::purge
