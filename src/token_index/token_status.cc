#include "token_index/token_status.h"

#include <algorithm>

#include "base/file.h"
#include "store/store_paths.h"
#include "token_index/read_entries.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

namespace {

// How many bytes at text[i] belong to one UTF-8 character: all of it when
// well formed (`complete` set), else the longest prefix that could still have
// begun one (at least 1 byte), which counts as a single broken character.
size_t utf8_character(std::string_view text, size_t i, bool& complete) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(i);
  complete = true;
  if (b0 < 0x80) return 1;
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  }
  size_t taken = 1;
  while (len > 0 && taken < len && i + taken < text.size()) {
    unsigned char b = byte(i + taken);
    bool fits = taken == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!fits) break;
    ++taken;
  }
  complete = len > 0 && taken == len;
  return taken;
}

// File names are bytes, tokenizer names text: invalid sequences become
// U+FFFD here, so the names compared and sorted are the ones returned.
std::string lossy_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    bool complete = false;
    size_t len = utf8_character(text, i, complete);
    if (complete) {
      out.append(text.substr(i, len));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    i += len;
  }
  return out;
}

}  // namespace

base::Result<TokenStatus> token_index_token_status(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> chunks, token_index_chunk_files(zr_dir, tokenizer));
  TokenStatus status;
  ZR_RETURN_IF_ERROR(for_each_entry(chunks, [&](TokenIndexEntry&& entry, const EntryLocation&) {
    ++status.total_entries;
    ++(entry.revoked ? status.revoked_entries : status.active_entries);
    status.total_tokens = add_tokens(status.total_tokens, entry.token_count);
    return base::Status();
  }));
  return status;
}

base::Result<std::vector<std::string>> token_index_list_tokenizers(std::string_view zr_dir) {
  std::vector<std::string> names;
  std::string store = store::store_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(store));
  for (const base::DirEntry& entry : entries) {
    std::string name = lossy_utf8(entry.name);
    if (!std::string_view(name).starts_with(kTokenIndexPrefix)) continue;
    std::string rest = name.substr(kTokenIndexPrefix.size());
    if (entry.kind == base::PathKind::kDirectory) {
      if (!rest.empty()) names.push_back(std::move(rest));
    } else if (entry.kind == base::PathKind::kRegularFile) {
      // Per-process files and the binary index end in ".<suffix>".
      size_t dot = rest.rfind('.');
      if (dot != std::string::npos && dot > 0) names.push_back(rest.substr(0, dot));
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace zr::token_index
