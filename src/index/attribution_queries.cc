#include "index/attribution_queries.h"

#include <optional>
#include <utility>

#include "base/file.h"
#include "index/layer_scans.h"
#include "registry/author_registry.h"
#include "registry/section.h"
#include "registry/section_scans.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::index {

namespace {

using tracking::DocumentRecord;

base::Result<std::vector<DocumentRecord>> scan_author_records(std::string_view zr_dir, std::string_view author_name) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> ids, registry::author_ids_named(zr_dir, author_name));
  if (ids.empty()) return std::vector<DocumentRecord>();
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> hashes, registry::sections_by_authors(zr_dir, ids));
  return document_scan(zr_dir, base::StringSet(hashes.begin(), hashes.end()));
}

}  // namespace

base::Result<std::vector<DocumentRecord>> indexed_author_records(std::string_view zr_dir, const BinaryIndex& index,
                                                                 const base::StringSet& author_ids) {
  base::StringSet sections;
  const std::string sections_dir = store::store_path(zr_dir, store::kSectionsLayer);
  json::Parser parser;
  for (uint8_t shard : shards_of(index, author_ids)) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file,
                        base::MappedFile::OpenIfExists(base::path_join(sections_dir, store::shard_file_name(shard))));
    store::for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
      std::optional<registry::Section> section = registry::parse_section_line(parser, line, readable_after);
      if (!section) return;
      for (const std::string& author : section->authors) {
        if (author_ids.contains(author)) {
          sections.insert(std::move(section->section_hash));
          return;
        }
      }
    });
  }

  std::vector<DocumentRecord> records;
  const std::string documents_dir = store::store_path(zr_dir, store::kDocumentIndexLayer);
  DocumentFilter filter(sections);
  for (uint8_t shard : shards_of(index, sections)) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file,
                        base::MappedFile::OpenIfExists(base::path_join(documents_dir, store::shard_file_name(shard))));
    filter.Collect(file.view(), records);
  }
  return records;
}

base::Result<std::vector<DocumentRecord>> show_by_author(std::string_view zr_dir, std::string_view author_name) {
  {
    ZR_ASSIGN_OR_RETURN(std::optional<BinaryIndex> index, BinaryIndex::Open(zr_dir));
    if (!index) return scan_author_records(zr_dir, author_name);
  }
  // The index is opened again after the registry query, so the lookups see
  // the index as it is once the author is known.
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> ids, registry::author_ids_named(zr_dir, author_name));
  if (ids.empty()) return std::vector<DocumentRecord>();
  ZR_ASSIGN_OR_RETURN(std::optional<BinaryIndex> index, BinaryIndex::Open(zr_dir));
  if (!index) return base::Status::Error("binary index not found");
  return indexed_author_records(zr_dir, *index, base::StringSet(ids.begin(), ids.end()));
}

base::Result<std::vector<DocumentRecord>> show_by_license(std::string_view zr_dir, std::string_view license) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> hashes, registry::sections_by_license(zr_dir, license));
  if (hashes.empty()) return std::vector<DocumentRecord>();
  return document_scan(zr_dir, base::StringSet(hashes.begin(), hashes.end()));
}

base::Result<std::vector<DocumentRecord>> show_by_section(std::string_view zr_dir, std::string_view section_hash) {
  return document_scan(zr_dir, base::StringSet{std::string(section_hash)});
}

}  // namespace zr::index
