// A tokenizer's merged directory: its numbered chunk files, the order that
// gives every merged entry its number, and writing chunk files safely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/file_replacement.h"
#include "base/status.h"
#include "store/jsonl.h"  // for_each_raw_line, used by every chunk reader

namespace zr::token_index {

struct ChunkFile {
  uint64_t number = 0;
  std::string path;
};

// A chunk file's name is an unsigned decimal number below 2^64 with at most
// one leading "+"; anything else (a sign, a blank, a temporary file) is not
// a chunk file.
std::optional<uint64_t> parse_chunk_number(std::string_view name);

// The chunk files of `merged_dir` in merged order: ascending by number, two
// spellings of one number ("7", "007") in listing order. A directory that is
// not there has none.
base::Result<std::vector<ChunkFile>> chunk_files_in(const std::string& merged_dir);

// The chunk files of a tokenizer's merged directory, in merged order.
base::Result<std::vector<ChunkFile>> token_index_chunk_files(std::string_view zr_dir, std::string_view tokenizer);

// One more than the largest number present, or 1 for none.
base::Result<uint64_t> next_chunk_number(const std::vector<ChunkFile>& chunks);

// Replaces a chunk file's whole content. The bytes go through a temporary
// file in the merged directory whose name is no chunk number, so a crash
// never leaves a half-written chunk or a stray copy that readers would take.
base::Status write_chunk_file(const std::string& merged_dir, const std::string& path, std::string_view text);

// The same, for several chunk files put in place together: the new bytes are
// written and flushed now, and `batch`'s Commit renames them.
base::Status prepare_chunk_file(const std::string& merged_dir, const std::string& path, std::string_view text,
                                base::ReplacementBatch& batch);

// The first half of write_chunk_file, for a caller that has other work to do
// while the bytes reach storage: the temporary file holding `text`, its
// write-back started. Finish and Commit it to put it in place.
base::Result<base::FileReplacement> start_chunk_file(const std::string& merged_dir, const std::string& path,
                                                     std::string_view text);

// Adds `text` as a new chunk file of `tokenizer` under the next chunk number,
// creating the merged directory if needed; returns the number used. For
// callers that bring entries from elsewhere (another store, say).
base::Result<uint64_t> token_index_add_chunk(std::string_view zr_dir, std::string_view tokenizer,
                                             std::string_view text);

}  // namespace zr::token_index
