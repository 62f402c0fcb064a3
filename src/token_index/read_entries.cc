#include "token_index/read_entries.h"

namespace zr::token_index {

base::Status for_each_entry_line(
    const std::vector<ChunkFile>& chunks,
    const std::function<base::Status(std::string_view line, size_t readable_after, const EntryLocation&)>& fn) {
  for (const ChunkFile& chunk : chunks) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(chunk.path));
    std::string_view text = file.view();
    base::Status status;
    store::for_each_raw_line(text, [&](std::string_view line, size_t offset) {
      if (!status.ok()) return;
      size_t readable_after = text.size() - (offset + line.size());
      status = fn(line, readable_after, EntryLocation{&chunk, offset, line.size()});
    });
    ZR_RETURN_IF_ERROR(status);
  }
  return base::Status();
}

base::Status for_each_entry(const std::vector<ChunkFile>& chunks,
                            const std::function<base::Status(TokenIndexEntry&&, const EntryLocation&)>& fn) {
  json::Parser parser;
  return for_each_entry_line(chunks, [&](std::string_view line, size_t readable_after, const EntryLocation& at) {
    std::optional<TokenIndexEntry> entry = read_entry_line(parser, line, readable_after);
    if (!entry) return base::Status();
    return fn(std::move(*entry), at);
  });
}

base::Status for_each_entry_view(const std::vector<ChunkFile>& chunks,
                                 const std::function<base::Status(const EntryView&, const EntryLocation&)>& fn) {
  json::Parser parser;
  PlainEntryView plain;
  return for_each_entry_line(chunks, [&](std::string_view line, size_t readable_after, const EntryLocation& at) {
    if (read_plain_entry_view(line, plain) == FastRead::kEntry) return fn(view_of(plain), at);
    std::optional<TokenIndexEntry> entry = parse_entry_line(parser, line, readable_after);
    return entry ? fn(view_of(*entry), at) : base::Status();
  });
}

}  // namespace zr::token_index
