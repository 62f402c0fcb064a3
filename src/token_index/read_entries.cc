#include "token_index/read_entries.h"

namespace zr::token_index {

Status for_each_entry(const std::vector<ChunkFile>& chunks,
                      const std::function<Status(TokenIndexEntry&&, const EntryLocation&)>& fn) {
  json::Parser parser;
  for (const ChunkFile& chunk : chunks) {
    ZR_ASSIGN_OR_RETURN(MappedFile file, MappedFile::OpenIfExists(chunk.path));
    std::string_view text = file.view();
    Status status;
    for_each_raw_line(text, [&](std::string_view line, size_t offset) {
      if (!status.ok()) return;
      size_t readable_after = text.size() - (offset + line.size());
      std::optional<TokenIndexEntry> entry = parse_entry_line(parser, line, readable_after);
      if (!entry) return;
      status = fn(std::move(*entry), EntryLocation{&chunk, offset, line.size()});
    });
    ZR_RETURN_IF_ERROR(status);
  }
  return Status();
}

Result<std::vector<TokenIndexEntry>> token_index_read_entries(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, token_index_chunk_files(zr_dir, tokenizer));
  std::vector<TokenIndexEntry> entries;
  ZR_RETURN_IF_ERROR(for_each_entry(chunks, [&](TokenIndexEntry&& entry, const EntryLocation&) {
    entries.push_back(std::move(entry));
    return Status();
  }));
  return entries;
}

}  // namespace zr::token_index
