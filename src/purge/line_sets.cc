#include "purge/line_sets.h"

#include <array>
#include <cstring>

#include "base/file.h"
#include "base/string_set.h"
#include "index/attribution_tables.h"
#include "index/binary_index_reader.h"
#include "index/layer_scans.h"
#include "json/parse.h"
#include "registry/author_registry.h"
#include "revocation/revoked_mark.h"
#include "store/candidate_lines.h"
#include "store/flat_object.h"
#include "store/jsonl.h"
#include "store/shard.h"
#include "store/store_paths.h"
#include "store/substring_filter.h"
#include "tracking/document_record.h"

namespace zr::purge {

namespace {

// Digests are uniformly distributed, so their first bytes are a good hash.
uint64_t slot_hash(const store::HashKey& key) {
  uint64_t h;
  std::memcpy(&h, key.data(), sizeof h);
  return h;
}

int lower_hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool decode_lower_hex_hash(std::string_view text, store::HashKey& out) {
  if (text.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    int hi = lower_hex_digit(text[2 * i]);
    int lo = lower_hex_digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

size_t LineSet::Probe(const store::HashKey& key) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = slot_hash(key) & mask;; i = (i + 1) & mask) {
    uint32_t slot = slots_[i];
    if (slot == 0 || keys_[slot - 1] == key) return i;
  }
}

void LineSet::Grow() {
  size_t capacity = slots_.empty() ? 64 : slots_.size() * 2;
  slots_.assign(capacity, 0);
  for (size_t k = 0; k < keys_.size(); ++k) slots_[Probe(keys_[k])] = static_cast<uint32_t>(k + 1);
}

bool LineSet::Add(std::string_view line_hash) {
  store::HashKey key;
  if (!decode_lower_hex_hash(line_hash, key)) return others_.emplace(line_hash).second;
  // Keep the table at most half full so that probes stay short.
  if (2 * (keys_.size() + 1) > slots_.size()) Grow();
  size_t i = Probe(key);
  if (slots_[i] != 0) return false;
  keys_.push_back(key);
  slots_[i] = static_cast<uint32_t>(keys_.size());
  return true;
}

bool LineSet::ContainsDigest(const store::HashKey& digest) const {
  if (keys_.empty()) return false;
  return slots_[Probe(digest)] != 0;
}

namespace {

constexpr std::array<std::string_view, 3> kDocumentKeys = {"line_hash", "file", "sources"};

// Adds the line hash of every record of the revoked-document list.
base::Status add_revoked_list(std::string_view zr_dir, LineSet& lines) {
  const std::string path = revoked_list_path(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(path));
  json::Parser parser;
  std::array<store::FlatField, 3> fields;
  store::for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
    // Lines of the plain form written by tools are read without a parse;
    // the record's own members must each occur once, with their types.
    if (store::scan_flat_object(line, kDocumentKeys, fields)) {
      if (fields[0].count == 1 && fields[1].count == 1 && fields[2].count == 1 &&
          fields[0].kind == store::FlatKind::kString && fields[1].kind == store::FlatKind::kString &&
          fields[2].kind == store::FlatKind::kStringArray) {
        lines.Add(fields[0].text);
      }
      return;
    }
    std::optional<tracking::DocumentRecord> record = tracking::parse_document_line(parser, line, readable_after);
    if (record) lines.Add(record->line_hash);
  });
  return base::Status();
}

// The hashes of the revoked sections, from every regular file of the layer.
base::Result<std::vector<std::string>> revoked_sections(std::string_view zr_dir) {
  std::vector<std::string> hashes;
  const std::string dir = store::store_path(zr_dir, store::kSectionsLayer);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(dir));
  json::Parser parser;
  json::Value record;
  for (const base::DirEntry& entry : entries) {
    if (entry.kind != base::PathKind::kRegularFile) continue;
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::Open(base::path_join(dir, entry.name)));
    // A line can carry a "revoked" member only if it spells the key plainly
    // or uses an escape somewhere; the others are passed over unparsed.
    store::CandidateLines candidates(file.view(), revocation::kRevokedMember);
    std::string_view line;
    size_t readable_after = 0;
    while (candidates.Next(line, readable_after)) {
      if (!parser.ParseInto(line, readable_after, record)) continue;
      const json::Value* hash = record.find("section_hash");
      if (revocation::is_marked_revoked(record) && hash != nullptr && hash->is_string()) hashes.push_back(hash->as_string());
    }
  }
  return hashes;
}

// Adds the line hash of every document-index record that names one of
// `sections`, from the shards of the layer.
base::Status add_documents_of_sections(std::string_view zr_dir, const std::vector<std::string>& sections,
                                       LineSet& lines) {
  const std::string dir = store::store_path(zr_dir, store::kDocumentIndexLayer);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(dir));
  const base::StringSet wanted(sections.begin(), sections.end());
  index::DocumentFilter filter(wanted);
  std::vector<tracking::DocumentRecord> records;
  for (const base::DirEntry& entry : entries) {
    if (entry.kind != base::PathKind::kRegularFile || !store::is_shard_file_name(entry.name)) continue;
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::Open(base::path_join(dir, entry.name)));
    records.clear();
    filter.Collect(file.view(), records);
    for (const tracking::DocumentRecord& record : records) lines.Add(record.line_hash);
  }
  return base::Status();
}

std::vector<std::string> non_empty(const std::vector<std::string>& strings) {
  std::vector<std::string> kept;
  for (const std::string& s : strings) {
    if (!s.empty()) kept.push_back(s);
  }
  return kept;
}

}  // namespace

std::string revoked_list_path(std::string_view zr_dir) {
  return base::path_join(base::path_join(store::store_path(zr_dir, store::kDocumentIndexLayer), "revoked"), "all");
}

base::Result<uint64_t> revoked_list_size(std::string_view zr_dir) {
  const std::string path = revoked_list_path(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(path));
  uint64_t count = 0;
  store::for_each_line(file.view(), [&](std::string_view, size_t) { ++count; });
  return count;
}

base::Result<LineSet> revoked_line_set(std::string_view zr_dir) {
  LineSet lines;
  ZR_RETURN_IF_ERROR(add_revoked_list(zr_dir, lines));
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> sections, revoked_sections(zr_dir));
  if (!sections.empty()) ZR_RETURN_IF_ERROR(add_documents_of_sections(zr_dir, sections, lines));
  return lines;
}

base::Result<LineSet> author_line_set(std::string_view zr_dir, std::string_view author_name) {
  ZR_ASSIGN_OR_RETURN(std::vector<registry::Author> authors, registry::authors_named(zr_dir, author_name));
  bool any_revoked = false;
  for (const registry::Author& author : authors) any_revoked = any_revoked || author.revoked;
  if (!any_revoked) {
    const std::string name(author_name);
    return base::Status::Error("author '" + name + "' is not revoked. Revoke first with `zr revoke --author '" + name +
                               "'` before purging.");
  }
  std::vector<std::string> ids;
  for (const registry::Author& author : authors) ids.push_back(author.id);
  const base::StringSet id_set(ids.begin(), ids.end());

  ZR_ASSIGN_OR_RETURN(std::optional<index::BinaryIndex> opened, index::BinaryIndex::Open(zr_dir));
  if (!opened) return base::Status::Error("binary index not found, run `zr index build` first");
  const index::BinaryIndex& index = *opened;

  // The author's sections, from the section shards the index names for the
  // ids; only lines that contain one of the ids are parsed.
  std::vector<std::string> sections;
  base::StringSet section_set;
  const std::vector<std::string> id_needles = non_empty(ids);
  for (uint8_t shard : index::shards_of(index, ids)) {
    ZR_ASSIGN_OR_RETURN(std::vector<json::Value> records,
                        store::jsonl_read_filtered(base::path_join(store::store_path(zr_dir, store::kSectionsLayer),
                                                                   store::shard_file_name(shard)),
                                                   id_needles));
    for (const json::Value& record : records) {
      const json::Value* hash = record.find("section_hash");
      const json::Value* listed = record.find("authors");
      if (hash == nullptr || !hash->is_string() || listed == nullptr || !listed->is_array()) continue;
      for (const json::Value& id : listed->as_array()) {
        if (id.is_string() && id_set.contains(id.as_string())) {
          if (section_set.insert(hash->as_string()).second) sections.push_back(hash->as_string());
          break;
        }
      }
    }
  }

  // Their lines, from the document-index shards the index names for the
  // sections; only lines that contain one of the section hashes are parsed.
  LineSet lines;
  const store::SubstringFilter filter(sections);
  json::Parser parser;
  for (uint8_t shard : index::shards_of(index, sections)) {
    const std::string path =
        base::path_join(store::store_path(zr_dir, store::kDocumentIndexLayer), store::shard_file_name(shard));
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(path));
    store::for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
      if (!filter.Matches(line)) return;
      std::optional<tracking::DocumentRecord> record = tracking::parse_document_line(parser, line, readable_after);
      if (!record) return;
      for (const std::string& source : record->sources) {
        if (section_set.contains(source)) {
          lines.Add(record->line_hash);
          break;
        }
      }
    });
  }
  return lines;
}

}  // namespace zr::purge
