#include "removal/store_merge_tokens.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "store/init.h"
#include "token_index/chunk_files.h"
#include "token_index/read_entries.h"
#include "token_index/token_index_names.h"
#include "token_index/token_status.h"

namespace zr::removal {

namespace {

void append_length_prefixed(std::string& out, std::string_view text) {
  out.append(std::to_string(text.size()));
  out.push_back(':');
  out.append(text);
}

}  // namespace

using token_index::ChunkFile;
using token_index::TokenIndexEntry;

std::string token_entry_identity(const TokenIndexEntry& entry) {
  std::vector<std::string_view> sources(entry.sources.begin(), entry.sources.end());
  std::sort(sources.begin(), sources.end());
  std::string key = std::to_string(entry.token_count);
  key.push_back(' ');
  append_length_prefixed(key, entry.tokenizer);
  for (std::string_view source : sources) append_length_prefixed(key, source);
  return key;
}

base::Result<TokenMergeCounts> merge_token_entries(std::string_view source, std::string_view target) {
  TokenMergeCounts counts;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> tokenizers, token_index::token_index_list_tokenizers(source));
  for (const std::string& tokenizer : tokenizers) {
    ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> source_chunks, token_index::token_index_chunk_files(source, tokenizer));
    ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> target_chunks, token_index::token_index_chunk_files(target, tokenizer));

    std::unordered_set<std::string> held;
    ZR_RETURN_IF_ERROR(token_index::for_each_entry(
        target_chunks, [&](TokenIndexEntry&& entry, const token_index::EntryLocation&) {
          held.insert(token_entry_identity(entry));
          return base::Status();
        }));

    ZR_RETURN_IF_ERROR(store::create_directories(token_index::merged_dir_path(target, tokenizer)));

    std::string chunk_text;
    ZR_RETURN_IF_ERROR(token_index::for_each_entry(
        source_chunks, [&](TokenIndexEntry&& entry, const token_index::EntryLocation&) {
          if (!held.insert(token_entry_identity(entry)).second) {
            ++counts.skipped;
            return base::Status();
          }
          chunk_text.append(token_index::entry_line(entry));
          ++counts.added;
          return base::Status();
        }));
    // One chunk file, written whole under the next free number: readers never
    // see it half-written.
    if (!chunk_text.empty()) {
      ZR_RETURN_IF_ERROR(token_index::token_index_add_chunk(target, tokenizer, chunk_text).status());
    }
  }
  return counts;
}

}  // namespace zr::removal
