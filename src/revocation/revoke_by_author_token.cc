// Revocation of an author's token-index entries.
#include <string>
#include <unordered_set>
#include <vector>

#include "base/file.h"
#include "registry/author_registry.h"
#include "revocation/revocation.h"
#include "store/jsonl.h"
#include "store/oplog.h"
#include "store/store_paths.h"
#include "token_index/toggle_matching.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_index_names.h"

namespace zr::revocation {

namespace {

// The section hashes of every record of the `sections` layer (any regular
// file in it) whose "authors" array holds one of `ids`. Whatever the
// registry stores there is compared with the ids, and only the first
// element that is one of them matters.
base::Result<std::vector<std::string>> sections_listing(std::string_view zr_dir,
                                                        const std::unordered_set<std::string>& ids) {
  std::vector<std::string> hashes;
  std::unordered_set<std::string> seen;
  const std::string dir = store::store_path(zr_dir, store::kSectionsLayer);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(dir));
  for (const base::DirEntry& entry : entries) {
    if (entry.kind != base::PathKind::kRegularFile) continue;
    ZR_ASSIGN_OR_RETURN(std::vector<json::Value> records, store::jsonl_read(base::path_join(dir, entry.name)));
    for (const json::Value& record : records) {
      const json::Value* authors = record.find("authors");
      if (authors == nullptr || !authors->is_array()) continue;
      bool listed = false;
      for (const json::Value& author : authors->as_array()) {
        if (author.is_string() && ids.contains(author.as_string())) {
          listed = true;
          break;
        }
      }
      const json::Value* hash = record.find("section_hash");
      if (!listed || hash == nullptr || !hash->is_string()) continue;
      if (seen.insert(hash->as_string()).second) hashes.push_back(hash->as_string());
    }
  }
  return hashes;
}

}  // namespace

base::Result<uint64_t> revoke_by_author_token(std::string_view zr_dir, std::string_view author_name,
                                              std::string_view tokenizer, bool reverse) {
  ZR_RETURN_IF_ERROR(token_index::check_tokenizer_name(tokenizer));
  ZR_ASSIGN_OR_RETURN(std::vector<registry::Author> authors, registry::authors_named(zr_dir, author_name));
  if (authors.empty()) return uint64_t{0};
  std::unordered_set<std::string> ids;
  for (const registry::Author& author : authors) ids.insert(author.id);
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> sections, sections_listing(zr_dir, ids));
  if (sections.empty()) return uint64_t{0};

  // The chunk files are the lasting record of the flips: a binary index is
  // derived from them, so flags patched into the index alone would be lost
  // by the next rebuild. The index is rebuilt instead; if that fails it is
  // older than the changed chunk files and its readers fall back to them.
  ZR_ASSIGN_OR_RETURN(uint64_t count, token_index::token_index_toggle_matching(zr_dir, tokenizer, sections));
  token_index::token_index_rebuild_binary_index_if_present(zr_dir, tokenizer);

  std::string detail =
      std::string(author_name) + " tokenizer=" + std::string(tokenizer) + " count=" + std::to_string(count);
  ZR_RETURN_IF_ERROR(store::oplog_append(zr_dir, reverse ? "revoke_reverse_token" : "revoke_token", detail));
  return count;
}

}  // namespace zr::revocation
