#include "token_index/chunk_files.h"

#include <algorithm>
#include <limits>

#include "base/file_system.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

std::optional<uint64_t> parse_chunk_number(std::string_view name) {
  if (!name.empty() && name.front() == '+') name.remove_prefix(1);
  if (name.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

base::Result<std::vector<ChunkFile>> chunk_files_in(const std::string& merged_dir) {
  std::vector<ChunkFile> chunks;
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(merged_dir));
  for (const base::DirEntry& entry : entries) {
    // Deliberately not checked to be a regular file: a numbered directory is
    // a chunk that fails to read, not one that silently shifts entry numbers.
    if (std::optional<uint64_t> number = parse_chunk_number(entry.name)) {
      chunks.push_back(ChunkFile{*number, base::path_join(merged_dir, entry.name)});
    }
  }
  std::stable_sort(chunks.begin(), chunks.end(),
                   [](const ChunkFile& a, const ChunkFile& b) { return a.number < b.number; });
  return chunks;
}

base::Result<std::vector<ChunkFile>> token_index_chunk_files(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  return chunk_files_in(merged_dir_path(zr_dir, tokenizer));
}

base::Result<uint64_t> next_chunk_number(const std::vector<ChunkFile>& chunks) {
  uint64_t largest = 0;
  for (const ChunkFile& chunk : chunks) largest = std::max(largest, chunk.number);
  if (largest == std::numeric_limits<uint64_t>::max()) {
    return base::Status::Error("no chunk number left after " + std::to_string(largest));
  }
  return largest + 1;
}

base::Status write_chunk_file(const std::string& merged_dir, const std::string& path, std::string_view text) {
  return base::replace_file_atomically(path, text, merged_dir, base::kReplacementTempPrefix);
}

base::Result<base::FileReplacement> start_chunk_file(const std::string& merged_dir, const std::string& path,
                                                     std::string_view text) {
  ZR_ASSIGN_OR_RETURN(base::FileReplacement replacement,
                      base::FileReplacement::Create(path, merged_dir, base::kReplacementTempPrefix));
  ZR_RETURN_IF_ERROR(replacement.Write(text));
  replacement.StartFlush();
  return replacement;
}

base::Status prepare_chunk_file(const std::string& merged_dir, const std::string& path, std::string_view text,
                                base::ReplacementBatch& batch) {
  ZR_ASSIGN_OR_RETURN(base::FileReplacement replacement, start_chunk_file(merged_dir, path, text));
  return batch.Add(std::move(replacement), base::new_file_mode());
}

base::Result<uint64_t> token_index_add_chunk(std::string_view zr_dir, std::string_view tokenizer,
                                             std::string_view text) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  std::string merged_dir = merged_dir_path(zr_dir, tokenizer);
  ZR_RETURN_IF_ERROR(base::make_directories(merged_dir));
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir));
  ZR_ASSIGN_OR_RETURN(uint64_t number, next_chunk_number(chunks));
  ZR_RETURN_IF_ERROR(write_chunk_file(merged_dir, base::path_join(merged_dir, chunk_file_name(number)), text));
  return number;
}

}  // namespace zr::token_index
