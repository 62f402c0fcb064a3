#include "token_index/author_tokens_index.h"

#include <unordered_set>

#include "json/parse.h"
#include "token_index/author_tokens_chunks.h"
#include "token_index/entry_view.h"
#include "token_index/chunk_files.h"
#include "token_index/source_patterns.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

base::Result<std::optional<std::vector<TokenIndexEntry>>> entries_from_index(std::string_view zr_dir,
                                                                             std::string_view tokenizer,
                                                                             const TokenBinIndex& index,
                                                                             const std::vector<std::string>& sources) {
  using Found = std::optional<std::vector<TokenIndexEntry>>;
  base::Result<std::vector<uint32_t>> numbers = index.LookupSources(source_keys(sources));
  if (!numbers.ok()) return Found();  // a damaged source table

  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir_path(zr_dir, tokenizer)));
  ChunkLocator locator(index, chunks);
  // Keys match either letter case, the sources themselves only exactly.
  const std::unordered_set<std::string> wanted(sources.begin(), sources.end());
  json::Parser parser;
  std::vector<TokenIndexEntry> kept;
  for (uint32_t number : *numbers) {
    std::optional<TokenBinEntry> record = index.entry(number);
    if (!record || record->revoked) continue;
    ZR_ASSIGN_OR_RETURN(const base::MappedFile* file, locator.FileOf(number, record->chunk));
    if (file == nullptr) continue;
    uint64_t end = uint64_t{record->offset} + record->length;
    if (end > file->size()) continue;  // the chunk changed after the build
    std::string_view line(file->data() + record->offset, record->length);
    std::optional<TokenIndexEntry> entry = read_entry_line(parser, line, file->size() - end);
    if (entry && names_any(*entry, wanted)) kept.push_back(std::move(*entry));
  }
  return Found(std::move(kept));
}

}  // namespace zr::token_index
