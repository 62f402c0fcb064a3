#include "tracking/track.h"

#include "store/content_hash.h"
#include "json/write.h"
#include "token_index/pid_file.h"
#include "token_index/token_index_names.h"
#include "tracking/document_index.h"

namespace zr::tracking {

base::Result<std::string> track(std::string_view data_compact, std::string_view file,
                                const std::vector<std::string>& sources, std::string_view zr_dir,
                                std::optional<uint64_t> token_count, std::optional<std::string_view> tokenizer) {
  // Checked first: once the document line is written there is no undo.
  if (tokenizer) ZR_RETURN_IF_ERROR(token_index::check_tokenizer_name(*tokenizer));
  std::string line_hash = store::sha256_hex(data_compact);
  ZR_RETURN_IF_ERROR(index_document(zr_dir, line_hash, file, sources, "track"));
  if (token_count && tokenizer) {
    ZR_RETURN_IF_ERROR(token_index::token_index_write_pid(zr_dir, *tokenizer, *token_count, sources));
  }
  return line_hash;
}

std::string line_hash_of_text(json::Parser& parser, std::string_view text) {
  std::string compact;
  if (!parser.Canonicalize(text, 0, compact)) {
    compact.clear();
    json::append_string(compact, text);
  }
  return store::sha256_hex(compact);
}

base::Result<std::vector<DocumentRecord>> blame(std::string_view zr_dir, std::string_view /*file*/,
                                                std::string_view line_content) {
  json::Parser parser;
  return lookup_document(zr_dir, line_hash_of_text(parser, line_content));
}

}  // namespace zr::tracking
