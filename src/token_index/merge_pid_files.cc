#include "token_index/merge_pid_files.h"

#include <string>
#include <vector>

#include "base/file.h"
#include "store/init.h"
#include "store/json_write.h"
#include "store/jsonl.h"
#include "store/store_paths.h"
#include "token_index/chunk_files.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

namespace {

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Per-process files carry a process id after the prefix, so only an all-digit
// rest qualifies: the binary index ("bin") and the files of a tokenizer whose
// name merely extends this one ("<tokenizer>.x.<pid>") are left alone.
base::Result<std::vector<std::string>> pid_files(const std::string& store, std::string_view tokenizer) {
  std::string prefix(kTokenIndexPrefix);
  prefix.append(tokenizer);
  prefix.push_back('.');
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory(store));
  std::vector<std::string> paths;
  for (const base::DirEntry& entry : entries) {
    std::string_view name = entry.name;
    if (entry.kind != base::PathKind::kRegularFile || !name.starts_with(prefix)) continue;
    if (!all_digits(name.substr(prefix.size()))) continue;
    paths.push_back(base::path_join(store, name));
  }
  return paths;
}

}  // namespace

base::Result<MergeCounts> token_index_merge_pid_files(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  MergeCounts counts;
  std::string store = store::store_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::PathKind store_kind, base::path_kind(store));
  if (store_kind != base::PathKind::kDirectory) return counts;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> files, pid_files(store, tokenizer));
  if (files.empty()) return counts;

  std::string merged_dir = merged_dir_path(zr_dir, tokenizer);
  ZR_RETURN_IF_ERROR(store::create_directories(merged_dir));
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir));
  ZR_ASSIGN_OR_RETURN(uint64_t next, next_chunk_number(chunks));

  for (const std::string& file : files) {
    ZR_ASSIGN_OR_RETURN(std::vector<json::Value> records, store::jsonl_read(file));
    if (records.empty()) {
      (void)base::remove_file(file);  // nothing is lost if it stays; the next merge retries
    } else {
      std::string text;
      for (const json::Value& record : records) {
        json::append_compact(text, record);
        text.push_back('\n');
      }
      // 0 only after wrapping past the largest number: never reuse a name.
      if (next == 0) return base::Status::Error("no chunk number left for a new chunk file");
      ZR_RETURN_IF_ERROR(write_chunk_file(merged_dir, base::path_join(merged_dir, chunk_file_name(next)), text));
      counts.records_merged += records.size();
      ++next;
      // Failing here leaves the records in both places; the caller hears of it.
      ZR_RETURN_IF_ERROR(base::remove_file(file));
    }
    ++counts.files_handled;
  }
  return counts;
}

}  // namespace zr::token_index
