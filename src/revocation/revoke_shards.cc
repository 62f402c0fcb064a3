// Revocation of registry records: sections, document-index lines, authors.
#include <string>
#include <vector>

#include "base/file.h"
#include "base/file_replacement.h"

#include "registry/author_registry.h"
#include "revocation/revocation.h"
#include "revocation/revoked_mark.h"
#include "revocation/shard_toggle.h"
#include "store/jsonl.h"
#include "store/oplog.h"
#include "store/store_paths.h"

namespace zr::revocation {

namespace {

// The first `n` characters of UTF-8 text (all of it when shorter).
std::string_view first_characters(std::string_view text, size_t n) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    bool starts_character = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts_character && seen++ == n) return text.substr(0, i);
  }
  return text;
}

struct LoadedShard {
  std::string path;
  std::vector<json::Value> records;
};

// The shard at `path` among `shards`, read and added on first use; nullptr
// when the file does not exist.
base::Result<LoadedShard*> load_shard_once(std::vector<LoadedShard>& shards, const std::string& path) {
  for (LoadedShard& shard : shards) {
    if (shard.path == path) return &shard;
  }
  ZR_ASSIGN_OR_RETURN(base::PathKind kind, base::path_kind(path));
  if (kind == base::PathKind::kMissing) return static_cast<LoadedShard*>(nullptr);
  ZR_ASSIGN_OR_RETURN(std::vector<json::Value> records, store::jsonl_read(path));
  shards.push_back(LoadedShard{path, std::move(records)});
  return &shards.back();
}

std::string_view operation_name(bool reverse, std::string_view forward, std::string_view backward) {
  return reverse ? backward : forward;
}

}  // namespace

base::Result<uint64_t> revoke_section(std::string_view zr_dir, std::string_view section_hash, bool reverse) {
  ZR_ASSIGN_OR_RETURN(std::string shard, store::shard_path(zr_dir, store::kSectionsLayer, section_hash));
  ZR_ASSIGN_OR_RETURN(
      ShardToggle outcome,
      toggle_revoked_in_shard(
          zr_dir, shard,
          [&](const json::Value& record) { return string_member_equals(record, "section_hash", section_hash); },
          RewritePolicy::kWhenToggled));
  if (!outcome.present) return uint64_t{0};
  std::string detail = std::string(section_hash) + " (" + std::to_string(outcome.toggled) + " sections toggled)";
  ZR_RETURN_IF_ERROR(
      store::oplog_append(zr_dir, operation_name(reverse, "revoke_section", "revoke_reverse_section"), detail));
  return outcome.toggled;
}

base::Result<uint64_t> revoke_manifest(std::string_view zr_dir, std::string_view line_hash, std::string_view file,
                                       bool reverse) {
  ZR_ASSIGN_OR_RETURN(std::string shard, store::shard_path(zr_dir, store::kDocumentIndexLayer, line_hash));
  ZR_ASSIGN_OR_RETURN(ShardToggle outcome,
                      toggle_revoked_in_shard(
                          zr_dir, shard,
                          [&](const json::Value& record) {
                            return string_member_equals(record, "line_hash", line_hash) &&
                                   string_member_equals(record, "file", file);
                          },
                          RewritePolicy::kAlways));
  if (!outcome.present) return uint64_t{0};
  std::string detail = "line_hash=" + std::string(first_characters(line_hash, 12)) + " file=" + std::string(file) +
                       " (" + std::to_string(outcome.toggled) + " toggled)";
  ZR_RETURN_IF_ERROR(
      store::oplog_append(zr_dir, operation_name(reverse, "revoke_manifest", "revoke_reverse_manifest"), detail));
  return outcome.toggled;
}

base::Result<uint64_t> revoke_by_author(std::string_view zr_dir, std::string_view author_name, bool reverse) {
  ZR_ASSIGN_OR_RETURN(std::vector<registry::Author> authors, registry::authors_named(zr_dir, author_name));
  if (authors.empty()) return uint64_t{0};
  // Every shard is read and toggled in memory first, and all the new shards
  // are put in place in one run of renames at the end: a crash part-way can
  // leave some authors toggled and others not only within that run. Each
  // author's toggle still applies on its own, in order, so an author listed
  // twice flips twice, as it would with a rewrite per author.
  std::vector<LoadedShard> shards;
  uint64_t total = 0;
  for (const registry::Author& author : authors) {
    // A stored id that cannot name a shard safely has no shard to flip.
    base::Result<std::string> shard = store::shard_path(zr_dir, store::kAuthorsLayer, author.id);
    if (!shard.ok()) continue;
    ZR_ASSIGN_OR_RETURN(LoadedShard * loaded, load_shard_once(shards, *shard));
    if (loaded == nullptr) continue;
    total += toggle_revoked_in_records(
        loaded->records, [&](const json::Value& record) { return string_member_equals(record, "id", author.id); });
  }
  base::ReplacementBatch batch;
  for (const LoadedShard& shard : shards) ZR_RETURN_IF_ERROR(prepare_shard_rewrite(zr_dir, shard.path, shard.records, batch));
  ZR_RETURN_IF_ERROR(batch.Commit());
  std::string detail = std::string(author_name) + " (" + std::to_string(total) + " authors toggled)";
  ZR_RETURN_IF_ERROR(
      store::oplog_append(zr_dir, operation_name(reverse, "revoke_author", "revoke_reverse_author"), detail));
  return total;
}

}  // namespace zr::revocation
