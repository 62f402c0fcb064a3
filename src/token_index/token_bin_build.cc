#include "token_index/token_bin_build.h"

#include <string>
#include <vector>

#include "base/file.h"
#include "base/file_replacement.h"
#include "store/store_paths.h"
#include "token_index/read_entries.h"
#include "token_index/source_groups.h"
#include "token_index/token_bin_format.h"
#include "token_index/token_bin_reader.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

namespace {

base::Status write_verified(const std::string& store, const std::string& target, const EncodedIndex& index) {
  base::Result<base::FileReplacement> created = base::FileReplacement::Create(target, store, kTokenBinaryIndexTempPrefix);
  if (!created.ok()) return created.status().WithContext("creating " + target);
  base::FileReplacement file = std::move(created).value();
  ZR_RETURN_IF_ERROR(file.Write(index.bytes));
  ZR_RETURN_IF_ERROR(file.Finish(base::new_file_mode()));
  // Read back what was written, through the reader the queries use.
  ZR_ASSIGN_OR_RETURN(std::optional<TokenBinIndex> reopened, TokenBinIndex::OpenFile(file.temp_path()));
  if (!reopened) return base::Status::Error("failed to re-open token binary index for verification");
  if (reopened->entry_count() != index.entry_count) {
    return base::Status::Error("verification failed: expected " + std::to_string(index.entry_count) +
                               " entries, stored " + std::to_string(reopened->entry_count()));
  }
  return file.Commit();
}

}  // namespace

base::Result<BinaryIndexCounts> token_index_build_binary_index(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  std::string merged_dir = merged_dir_path(zr_dir, tokenizer);
  ZR_ASSIGN_OR_RETURN(const bool merged_dir_exists, base::directory_exists(merged_dir));
  if (!merged_dir_exists) {
    return base::Status::Error("no merged token-index directory for tokenizer '" + std::string(tokenizer) + "'");
  }
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, chunk_files_in(merged_dir));

  std::vector<EntryRef> entries;
  SourceGroups sources;
  ZR_RETURN_IF_ERROR(for_each_entry_view(chunks, [&](const EntryView& entry, const EntryLocation& at) {
    // Entry numbers beyond 32 bits are refused by the encoder; until then
    // the truncated number is never stored.
    auto number = static_cast<uint32_t>(entries.size());
    entries.push_back(EntryRef{at.chunk->number, at.offset, at.length, entry.revoked});
    entry.for_each_source([&](std::string_view source) {
      if (std::optional<store::HashKey> key = source_key(source)) sources.Add(*key, number);
    });
    return base::Status();
  }));

  std::string target = binary_index_path(zr_dir, tokenizer);
  base::Result<EncodedIndex> encoded = encode_token_bin_index(entries, std::move(sources));
  if (!encoded.ok()) {
    (void)base::remove_file(target);
    return encoded.status();
  }
  ZR_RETURN_IF_ERROR(write_verified(store::store_dir(zr_dir), target, *encoded));
  return BinaryIndexCounts{encoded->entry_count, encoded->source_count};
}

void token_index_rebuild_binary_index_if_present(std::string_view zr_dir, std::string_view tokenizer) {
  if (!check_tokenizer_name(tokenizer).ok()) return;
  // Best effort like the rebuild itself: what cannot be examined is left
  // for the next clean or index build to report.
  base::Result<base::PathKind> kind = base::path_kind(binary_index_path(zr_dir, tokenizer));
  if (!kind.ok() || *kind == base::PathKind::kMissing) return;
  (void)token_index_build_binary_index(zr_dir, tokenizer);
}

}  // namespace zr::token_index
