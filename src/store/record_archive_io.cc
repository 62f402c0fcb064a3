#include "store/record_archive_io.h"

#include <cerrno>

#include "base/file.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::store {

base::Result<base::MappedFile> map_record_file(const std::string& path) {
  base::Result<base::FileToMap> file = base::FileToMap::Open(path);
  if (!file.ok()) {
    if (file.status().is_missing()) return base::MappedFile();
    return file.status();
  }
  if (file->kind() == base::PathKind::kOther) return base::Status::Error("not a regular file: " + path);
  if (file->kind() == base::PathKind::kDirectory) return base::Status::FromErrno(EISDIR);
  return file->Map();
}

namespace {

base::Status parse_each_line(const std::string& path, std::string_view needle,
                             const std::function<base::Status(const json::Value&)>& fn) {
  ZR_ASSIGN_OR_RETURN(base::MappedFile file, map_record_file(path));
  json::Parser parser;
  json::Value record;
  base::Status status;
  store::for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
    if (!status.ok()) return;
    if (!needle.empty() && line.find(needle) == std::string_view::npos) return;
    if (parser.ParseInto(line, readable_after, record)) status = fn(record);
  });
  return status;
}

}  // namespace

base::Status for_each_record(const std::string& path, const std::function<base::Status(const json::Value&)>& fn) {
  return parse_each_line(path, {}, fn);
}

base::Status for_each_record_holding(const std::string& path, std::string_view needle,
                                    const std::function<base::Status(const json::Value&)>& fn) {
  return parse_each_line(path, needle, fn);
}

base::Status for_each_layer_file(std::string_view zr_dir, std::string_view layer,
                                 const std::function<base::Status(const std::string& path)>& fn) {
  std::string dir = store::store_path(zr_dir, layer);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(dir));
  for (const base::DirEntry& entry : entries) {
    if (entry.kind != base::PathKind::kRegularFile) continue;
    ZR_RETURN_IF_ERROR(fn(base::path_join(dir, entry.name)));
  }
  return base::Status();
}

std::string& BatchedAppender::BufferFor(const std::string& path) {
  auto [it, inserted] = slot_of_path_.try_emplace(path, pending_.size());
  if (inserted) pending_.push_back(Pending{path, {}});
  return pending_[it->second].bytes;
}

base::Status BatchedAppender::AddRecord(const std::string& path, const json::Value& record) {
  std::string& bytes = BufferFor(path);
  size_t before = bytes.size();
  json::append_compact(bytes, record);
  bytes.push_back('\n');
  pending_bytes_ += bytes.size() - before;
  return FlushIfFull();
}

base::Status BatchedAppender::FlushIfFull() { return pending_bytes_ >= budget_ ? Flush() : base::Status(); }

base::Status BatchedAppender::Flush() {
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  slot_of_path_.clear();
  pending_bytes_ = 0;
  for (const Pending& file : pending) {
    if (file.bytes.empty()) continue;
    ZR_RETURN_IF_ERROR(store::append_line(file.path, file.bytes));
  }
  return base::Status();
}

}  // namespace zr::store
