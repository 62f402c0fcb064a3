#include "maintenance/store_merge_tokens.h"

#include <string>
#include <vector>

#include "base/file_system.h"
#include "maintenance/token_entry_identity.h"
#include "token_index/chunk_files.h"
#include "token_index/token_index_names.h"
#include "token_index/token_status.h"

namespace zr::maintenance {

using token_index::ChunkFile;

base::Result<TokenMergeCounts> absorb_token_entries(std::string_view target, std::string_view tokenizer,
                                                    MergeRoute route, const EntryWalk& walk_source) {
  TokenMergeCounts counts;
  EntryReader reader(route);
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> target_chunks, token_index::token_index_chunk_files(target, tokenizer));
  HeldEntryIdentities held;
  ZR_RETURN_IF_ERROR(for_each_entry(target_chunks, reader, [&] {
    held.Insert(reader);
    return base::Status();
  }));

  ZR_RETURN_IF_ERROR(base::make_directories(token_index::merged_dir_path(target, tokenizer)));

  std::string chunk_text;
  ZR_RETURN_IF_ERROR(walk_source(reader, [&] {
    if (!held.Insert(reader)) {
      ++counts.skipped;
      return base::Status();
    }
    reader.AppendLine(chunk_text);
    ++counts.added;
    return base::Status();
  }));
  // One chunk file, written whole under the next free number: readers never
  // see it half-written.
  if (!chunk_text.empty()) {
    ZR_RETURN_IF_ERROR(token_index::token_index_add_chunk(target, tokenizer, chunk_text).status());
  }
  return counts;
}

base::Result<TokenMergeCounts> merge_token_entries(std::string_view source, std::string_view target,
                                                   MergeRoute route) {
  TokenMergeCounts counts;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> tokenizers, token_index::token_index_list_tokenizers(source));
  for (const std::string& tokenizer : tokenizers) {
    ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> source_chunks, token_index::token_index_chunk_files(source, tokenizer));
    ZR_ASSIGN_OR_RETURN(TokenMergeCounts added,
                        absorb_token_entries(target, tokenizer, route,
                                             [&](EntryReader& reader, const std::function<base::Status()>& entry) {
                                               return for_each_entry(source_chunks, reader, entry);
                                             }));
    counts.added += added.added;
    counts.skipped += added.skipped;
  }
  return counts;
}

}  // namespace zr::maintenance
