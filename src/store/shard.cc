#include "store/shard.h"

#include "base/file.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::store {

base::Result<std::vector<json::Value>> shard_read(std::string_view zr_dir, std::string_view layer,
                                                  std::string_view hash) {
  ZR_ASSIGN_OR_RETURN(std::string path, shard_path(zr_dir, layer, hash));
  return jsonl_read(path);
}

namespace {
bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
}  // namespace

bool is_shard_file_name(std::string_view name) { return name.size() == 2 && is_hex(name[0]) && is_hex(name[1]); }

base::Result<std::vector<json::Value>> shard_iterate_all(std::string_view zr_dir, std::string_view layer) {
  std::vector<json::Value> values;
  std::string dir = store_path(zr_dir, layer);
  // A path holding NUL reads as missing too.
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(dir));
  for (const base::DirEntry& entry : entries) {
    if (entry.kind != base::PathKind::kRegularFile || !is_shard_file_name(entry.name)) continue;
    ZR_ASSIGN_OR_RETURN(std::vector<json::Value> shard, jsonl_read(base::path_join(dir, entry.name)));
    for (json::Value& v : shard) values.push_back(std::move(v));
  }
  return values;
}

}  // namespace zr::store
