#include "token_index/author_tokens.h"

#include <optional>
#include <unordered_set>

#include "base/file.h"
#include "registry/author_registry.h"
#include "registry/section_scans.h"
#include "json/parse.h"
#include "token_index/entry_view.h"
#include "token_index/author_tokens_index.h"
#include "token_index/chunk_files.h"
#include "token_index/source_patterns.h"
#include "token_index/token_bin_reader.h"
#include "token_index/token_index_names.h"
#include "token_index/token_status.h"

namespace zr::token_index {

namespace {

// The distinct section hashes of the authors' sections, in first-seen order.
base::Result<std::vector<std::string>> author_sections(std::string_view zr_dir, const std::vector<std::string>& ids) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> hashes, registry::sections_by_authors(zr_dir, ids));
  std::unordered_set<std::string> seen;
  std::vector<std::string> distinct;
  for (std::string& hash : hashes) {
    if (seen.insert(hash).second) distinct.push_back(std::move(hash));
  }
  return distinct;
}

base::Result<std::vector<TokenIndexEntry>> active_entries_from_chunks(std::string_view zr_dir,
                                                                      std::string_view tokenizer,
                                                                      const std::vector<std::string>& sections) {
  ZR_ASSIGN_OR_RETURN(std::vector<TokenIndexEntry> found, token_index_find_by_sources(zr_dir, tokenizer, sections));
  std::erase_if(found, [](const TokenIndexEntry& entry) { return entry.revoked; });
  return found;
}

}  // namespace

base::Result<std::vector<TokenIndexEntry>> token_index_find_by_sources(std::string_view zr_dir,
                                                                       std::string_view tokenizer,
                                                                       const std::vector<std::string>& sources) {
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, token_index_chunk_files(zr_dir, tokenizer));
  std::vector<TokenIndexEntry> found;
  if (chunks.empty() || sources.empty()) return found;
  SourcePatterns patterns(sources);
  json::Parser parser;
  for (const ChunkFile& chunk : chunks) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(chunk.path));
    std::string_view text = file.view();
    store::for_each_raw_line(text, [&](std::string_view line, size_t offset) {
      if (!patterns.HasCandidate(line)) return;
      std::optional<TokenIndexEntry> entry = read_entry_line(parser, line, text.size() - (offset + line.size()));
      if (entry && patterns.names_target(*entry)) found.push_back(std::move(*entry));
    });
  }
  return found;
}

base::Result<TokenQueryResult> show_by_author_token(std::string_view zr_dir, std::string_view author_name,
                                                    std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  TokenQueryResult result;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> ids, registry::author_ids_named(zr_dir, author_name));
  if (ids.empty()) return result;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> sections, author_sections(zr_dir, ids));

  std::optional<std::vector<TokenIndexEntry>> entries;
  base::Result<std::optional<TokenBinIndex>> index = TokenBinIndex::Open(zr_dir, tokenizer);
  if (index.ok() && index->has_value() && (*index)->IsCurrent()) {
    ZR_ASSIGN_OR_RETURN(entries, entries_from_index(zr_dir, tokenizer, **index, sections));
  }
  if (!entries) {
    ZR_ASSIGN_OR_RETURN(std::vector<TokenIndexEntry> scanned, active_entries_from_chunks(zr_dir, tokenizer, sections));
    entries = std::move(scanned);
  }
  for (const TokenIndexEntry& entry : *entries) result.total_tokens = add_tokens(result.total_tokens, entry.token_count);
  result.document_count = entries->size();
  result.entries = std::move(*entries);
  return result;
}

}  // namespace zr::token_index
