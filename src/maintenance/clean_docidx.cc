#include "maintenance/clean_docidx.h"

#include <string>
#include <vector>

#include "base/file.h"
#include "store/record_archive_io.h"
#include "store/store_paths.h"

namespace zr::maintenance {

namespace {

constexpr std::string_view kDocidxPrefix = "docidx.";

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool is_docidx_file_name(std::string_view name) {
  if (!name.starts_with(kDocidxPrefix)) return false;
  std::string_view rest = name.substr(kDocidxPrefix.size());
  return !(rest.size() == 2 && is_hex_digit(rest[0]) && is_hex_digit(rest[1]));
}

base::Result<DocidxFoldCounts> fold_docidx_files(std::string_view zr_dir) {
  std::string dir = store::store_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory(dir));
  std::vector<std::string> files;
  for (const base::DirEntry& entry : entries) {
    if (entry.kind == base::PathKind::kRegularFile && is_docidx_file_name(entry.name)) {
      files.push_back(base::path_join(dir, entry.name));
    }
  }

  DocidxFoldCounts counts;
  // Each file goes as soon as its own records are in the shards: a crash can
  // then leave at most that one file to be folded a second time, never a
  // record only in a deleted file.
  for (const std::string& file : files) {
    store::BatchedAppender appender;
    ZR_RETURN_IF_ERROR(store::for_each_record(file, [&](const json::Value& record) {
      const json::Value* hash = record.find("line_hash");
      if (hash == nullptr || !hash->is_string()) return base::Status();
      // A hash that cannot name a shard would make a path outside the layer.
      base::Result<std::string> shard = store::shard_path(zr_dir, store::kDocumentIndexLayer, hash->as_string());
      if (!shard.ok()) return base::Status();
      ++counts.records_merged;
      return appender.AddRecord(*shard, record);
    }));
    ZR_RETURN_IF_ERROR(appender.Flush());
    ZR_ASSIGN_OR_RETURN(base::PathKind file_kind, base::path_kind(file));
    if (file_kind == base::PathKind::kMissing) continue;
    ZR_RETURN_IF_ERROR(base::remove_file(file));
    ++counts.files_deleted;
  }
  return counts;
}

}  // namespace zr::maintenance
