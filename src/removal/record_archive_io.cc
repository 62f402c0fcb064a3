#include "removal/record_archive_io.h"

#include "base/file.h"
#include "store/json_parse.h"
#include "store/json_write.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::removal {

Status for_each_record(const std::string& path, const std::function<Status(const json::Value&)>& fn) {
  PathKind kind = path_kind(path);
  if (kind == PathKind::kMissing) return Status();
  // Opening a FIFO or a device for reading could block for ever.
  if (kind == PathKind::kOther) return Status::Error("not a regular file: " + path);
  ZR_ASSIGN_OR_RETURN(MappedFile file, MappedFile::Open(path));
  json::Parser parser;
  json::Value record;
  Status status;
  for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
    if (!status.ok()) return;
    if (parser.ParseInto(line, readable_after, record)) status = fn(record);
  });
  return status;
}

Status for_each_layer_record(std::string_view zr_dir, std::string_view layer,
                             const std::function<Status(const json::Value&)>& fn) {
  std::string dir = store_path(zr_dir, layer);
  if (path_kind(dir) != PathKind::kDirectory) return Status();
  ZR_ASSIGN_OR_RETURN(std::vector<DirEntry> entries, list_directory(dir));
  for (const DirEntry& entry : entries) {
    if (entry.kind != PathKind::kRegularFile) continue;
    ZR_RETURN_IF_ERROR(for_each_record(path_join(dir, entry.name), fn));
  }
  return Status();
}

std::string& BatchedAppender::BufferFor(const std::string& path) {
  auto [it, inserted] = slot_of_path_.try_emplace(path, pending_.size());
  if (inserted) pending_.push_back(Pending{path, {}});
  return pending_[it->second].bytes;
}

Status BatchedAppender::AddRecord(const std::string& path, const json::Value& record) {
  std::string& bytes = BufferFor(path);
  size_t before = bytes.size();
  json::append_compact(bytes, record);
  bytes.push_back('\n');
  pending_bytes_ += bytes.size() - before;
  return FlushIfFull();
}

Status BatchedAppender::FlushIfFull() { return pending_bytes_ >= budget_ ? Flush() : Status(); }

Status BatchedAppender::Flush() {
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  slot_of_path_.clear();
  pending_bytes_ = 0;
  for (const Pending& file : pending) {
    if (file.bytes.empty()) continue;
    ZR_RETURN_IF_ERROR(append_line(file.path, file.bytes));
  }
  return Status();
}

}  // namespace zr::removal
