#include "token_index/forget_set.h"

#include <optional>
#include <vector>

#include "base/file.h"
#include "token_index/read_entries.h"
#include "token_index/token_bin_reader.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

base::Result<std::string> generate_forget_set(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  base::Result<std::optional<TokenBinIndex>> index = TokenBinIndex::Open(zr_dir, tokenizer);
  if (index.ok() && index->has_value() && (*index)->IsCurrent()) return (*index)->RevokedBitMask();
  return token_index_scan_revoked_bits(zr_dir, tokenizer);
}

base::Result<std::string> token_index_scan_revoked_bits(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, token_index_chunk_files(zr_dir, tokenizer));
  std::string mask;
  uint64_t position = 0;
  ZR_RETURN_IF_ERROR(for_each_entry(chunks, [&](TokenIndexEntry&& entry, const EntryLocation&) {
    if ((position & 7) == 0) mask.push_back('\0');
    if (entry.revoked) mask.back() = static_cast<char>(mask.back() | (1 << (position & 7)));
    ++position;
    return base::Status();
  }));
  return mask;
}

}  // namespace zr::token_index
