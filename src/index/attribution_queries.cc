#include "index/attribution_queries.h"

#include <iterator>
#include <optional>
#include <set>
#include <utility>

#include "base/file.h"
#include "base/worker_pool.h"
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

// Runs read(text, out) over the shard files `shards` of `dir` on the worker
// pool and joins the outputs in ascending shard order. A missing shard is
// empty. A shard that cannot be opened or mapped is an error, and the
// lowest such shard's error is the one returned, as a sequential run in
// that order would return it.
template <typename T, typename Read>
base::Result<std::vector<T>> read_shards(const std::string& dir, const std::set<uint8_t>& shards, Read&& read) {
  const std::vector<uint8_t> names(shards.begin(), shards.end());
  std::vector<base::Result<std::vector<T>>> parts =
      base::parallel_map(names.size(), [&](size_t i) -> base::Result<std::vector<T>> {
        ZR_ASSIGN_OR_RETURN(base::MappedFile file,
                            base::MappedFile::OpenIfExists(base::path_join(dir, store::shard_file_name(names[i]))));
        std::vector<T> part;
        read(file.view(), part);
        return part;
      });
  std::vector<T> joined;
  for (base::Result<std::vector<T>>& part : parts) {
    if (!part.ok()) return part.status();
    for (T& item : *part) joined.push_back(std::move(item));
  }
  return joined;
}

}  // namespace

base::Result<std::vector<DocumentRecord>> indexed_author_records(std::string_view zr_dir, const BinaryIndex& index,
                                                                 const base::StringSet& author_ids) {
  const std::string sections_dir = store::store_path(zr_dir, store::kSectionsLayer);
  ZR_ASSIGN_OR_RETURN(
      std::vector<std::string> hashes,
      read_shards<std::string>(sections_dir, shards_of(index, author_ids), [&](std::string_view text, auto& out) {
        json::Parser parser;
        store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
          std::optional<registry::Section> section = registry::parse_section_line(parser, line, readable_after);
          if (!section) return;
          for (const std::string& author : section->authors) {
            if (author_ids.contains(author)) {
              out.push_back(std::move(section->section_hash));
              return;
            }
          }
        });
      }));
  const base::StringSet sections(std::make_move_iterator(hashes.begin()), std::make_move_iterator(hashes.end()));

  const store::StringSetLines candidates(sections);
  return read_shards<DocumentRecord>(
      store::store_path(zr_dir, store::kDocumentIndexLayer), shards_of(index, sections),
      [&](std::string_view text, auto& out) { DocumentFilter(sections, candidates).Collect(text, out); });
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
