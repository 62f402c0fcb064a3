#include "token_index/merge_pid_files.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/file.h"
#include "base/file_replacement.h"
#include "base/file_system.h"
#include "store/store_paths.h"
#include "token_index/canonical_records.h"
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

// A chunk file in its temporary file, waiting to be put in place, and the
// per-process file whose records it holds.
struct PendingChunk {
  base::FileReplacement file;
  std::string source;
};

// Flushes the pending chunk, renames it into place and only then deletes its
// per-process file: a crash at any point leaves every record in at least one
// of the two, and only a crash between the rename and the deletion right
// after it leaves one file's records in both.
base::Status complete(std::optional<PendingChunk>& pending, mode_t mode) {
  if (!pending) return base::Status();
  PendingChunk chunk = std::move(*pending);
  pending.reset();
  ZR_RETURN_IF_ERROR(chunk.file.Finish(mode));
  ZR_RETURN_IF_ERROR(chunk.file.Commit());
  // Failing here leaves the records in both places; the caller hears of it.
  return base::remove_file(chunk.source);
}

}  // namespace

base::Result<MergeCounts> token_index_merge_pid_files(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  MergeCounts counts;
  std::string store = store::store_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(const bool store_exists, base::directory_exists(store));
  if (!store_exists) return counts;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> files, pid_files(store, tokenizer));
  if (files.empty()) return counts;

  std::string merged_dir = merged_dir_path(zr_dir, tokenizer);
  // Something else in the merged directory's place says "Not a directory",
  // as every reader of it does, rather than creating's "File exists".
  ZR_ASSIGN_OR_RETURN(const bool merged_dir_exists, base::directory_exists(merged_dir));
  if (!merged_dir_exists) ZR_RETURN_IF_ERROR(base::make_directories(merged_dir));
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir));
  ZR_ASSIGN_OR_RETURN(uint64_t next, next_chunk_number(chunks));

  const mode_t mode = base::new_file_mode();
  RecordCanonicalizer canonicalizer;
  std::string text;
  // A chunk is put in place only after the next one is written, so that its
  // flush to storage overlaps that work. Whatever a step fails on, the chunk
  // before it is completed first, as a merge of one file at a time would
  // have done before ever reaching the failing step.
  std::optional<PendingChunk> pending;
  auto fail = [&](base::Status status) {
    base::Status earlier = complete(pending, mode);
    return earlier.ok() ? status : earlier;
  };
  for (const std::string& file : files) {
    base::Result<base::MappedFile> mapped = base::MappedFile::OpenIfExists(file);
    if (!mapped.ok()) return fail(mapped.status());
    text.clear();
    text.reserve(mapped->size());  // the sorted form of a written entry is as long as the entry
    const uint64_t records = canonicalizer.AppendRecords(mapped->view(), text);
    if (records == 0) {
      ZR_RETURN_IF_ERROR(complete(pending, mode));
      (void)base::remove_file(file);  // nothing is lost if it stays; the next merge retries
    } else {
      // 0 only after wrapping past the largest number: never reuse a name.
      if (next == 0) return fail(base::Status::Error("no chunk number left for a new chunk file"));
      base::Result<base::FileReplacement> started =
          start_chunk_file(merged_dir, base::path_join(merged_dir, chunk_file_name(next)), text);
      if (!started.ok()) return fail(started.status());
      ZR_RETURN_IF_ERROR(complete(pending, mode));
      pending.emplace(PendingChunk{std::move(started).value(), file});
      counts.records_merged += records;
      ++next;
    }
    ++counts.files_handled;
  }
  ZR_RETURN_IF_ERROR(complete(pending, mode));
  return counts;
}

}  // namespace zr::token_index
