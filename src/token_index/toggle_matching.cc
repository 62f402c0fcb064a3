#include "token_index/toggle_matching.h"

#include <unordered_set>

#include "base/file.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "token_index/chunk_files.h"
#include "token_index/source_patterns.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

base::Result<uint64_t> token_index_revoke_by_sources(std::string_view zr_dir, std::string_view tokenizer,
                                                     const std::vector<std::string>& target_sources) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  std::string merged_dir = merged_dir_path(zr_dir, tokenizer);
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir));
  std::unordered_set<std::string> targets(target_sources.begin(), target_sources.end());
  uint64_t total = 0;
  base::ReplacementBatch batch;  // changed chunks are written aside and renamed together at the end
  for (const ChunkFile& chunk : chunks) {
    ZR_ASSIGN_OR_RETURN(std::vector<json::Value> records, store::jsonl_read(chunk.path));
    uint64_t changed = 0;
    std::string text;
    for (const json::Value& record : records) {
      std::optional<TokenIndexEntry> entry = entry_from_value(record);
      if (entry && names_any(*entry, targets)) {
        entry->revoked = !entry->revoked;
        text.append(entry_line_sorted(*entry));
        ++changed;
      } else {
        json::append_compact(text, record);
        text.push_back('\n');
      }
    }
    if (changed == 0) continue;
    ZR_RETURN_IF_ERROR(prepare_chunk_file(merged_dir, chunk.path, text, batch));
    total += changed;
  }
  ZR_RETURN_IF_ERROR(batch.Commit());
  return total;
}

base::Result<uint64_t> token_index_toggle_matching(std::string_view zr_dir, std::string_view tokenizer,
                                                   const std::vector<std::string>& target_sources) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  std::string merged_dir = merged_dir_path(zr_dir, tokenizer);
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir));
  if (chunks.empty()) return uint64_t{0};
  SourcePatterns patterns(target_sources);
  json::Parser parser;
  uint64_t total = 0;
  // Every changed chunk is written aside first and all are renamed in one
  // run at the end, so that a crash leaves the entries toggled in some
  // chunk files and not in others only within that run of renames.
  base::ReplacementBatch batch;
  for (const ChunkFile& chunk : chunks) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(chunk.path));
    std::string_view text = file.view();
    uint64_t changed = 0;
    std::string out;
    out.reserve(text.size() + 64);
    store::for_each_raw_line(text, [&](std::string_view line, size_t offset) {
      if (patterns.HasCandidate(line)) {
        size_t readable_after = text.size() - (offset + line.size());
        std::optional<TokenIndexEntry> entry = parse_entry_line(parser, line, readable_after);
        if (entry && patterns.names_target(*entry)) {
          entry->revoked = !entry->revoked;
          out.append(entry_line(*entry));
          ++changed;
          return;
        }
      }
      out.append(line);
      out.push_back('\n');
    });
    if (changed == 0) continue;
    ZR_RETURN_IF_ERROR(prepare_chunk_file(merged_dir, chunk.path, out, batch));
    total += changed;
  }
  ZR_RETURN_IF_ERROR(batch.Commit());
  return total;
}

}  // namespace zr::token_index
