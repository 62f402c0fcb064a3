#include "index/layer_scans.h"

#include <array>
#include <utility>

#include "base/file.h"
#include "base/worker_pool.h"
#include "store/flat_object.h"
#include "index/record_reader.h"
#include "registry/section.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::index {

namespace {

using tracking::DocumentRecord;

// Runs `read(text, out)` over every regular file of a layer on the pool and
// joins the per-file outputs in listing order. When nothing can match, the
// layer is still listed (a listing failure is an error either way) but no
// file is read.
template <typename T, typename Read>
Result<std::vector<T>> scan_layer(std::string_view zr_dir, std::string_view layer, bool can_match, Read&& read) {
  std::vector<T> joined;
  const std::string dir = store_path(zr_dir, layer);
  if (path_kind(dir) != PathKind::kDirectory) return joined;
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> files, regular_files_in(dir));
  if (!can_match) return joined;
  std::vector<std::vector<T>> parts = parallel_map(files.size(), [&](size_t i) {
    std::vector<T> part;
    Result<MappedFile> file = MappedFile::Open(files[i]);
    if (file.ok()) read(file->view(), part);
    return part;
  });
  size_t total = 0;
  for (const std::vector<T>& part : parts) total += part.size();
  joined.reserve(total);
  for (std::vector<T>& part : parts) {
    for (T& item : part) joined.push_back(std::move(item));
  }
  return joined;
}

template <typename Keep>
Result<std::vector<std::string>> scan_sections(std::string_view zr_dir, bool can_match, Keep&& keep) {
  return scan_layer<std::string>(
      zr_dir, kSectionsLayer, can_match, [&](std::string_view text, std::vector<std::string>& out) {
        json::Parser parser;
        for_each_line(text, [&](std::string_view line, size_t readable_after) {
          std::optional<registry::Section> section = registry::parse_section_line(parser, line, readable_after);
          if (section && keep(*section)) out.push_back(std::move(section->section_hash));
        });
      });
}

constexpr std::array<std::string_view, 3> kDocumentKeys = {"line_hash", "file", "sources"};

}  // namespace

bool DocumentFilter::AnySource(const std::vector<std::string>& sources) const {
  for (const std::string& source : sources) {
    if (sections_.contains(source)) return true;
  }
  return false;
}

void DocumentFilter::Collect(std::string_view text, std::vector<DocumentRecord>& out) {
  if (sections_.empty()) return;
  std::array<FlatField, 3> fields;
  for_each_line(text, [&](std::string_view line, size_t readable_after) {
    if (!scan_flat_object(line, kDocumentKeys, fields)) {
      std::optional<DocumentRecord> record = tracking::parse_document_line(parser_, line, readable_after);
      if (record && AnySource(record->sources)) out.push_back(std::move(*record));
      return;
    }
    // The record's own members must each occur exactly once.
    const FlatField& line_hash = fields[0];
    const FlatField& file = fields[1];
    const FlatField& sources = fields[2];
    if (line_hash.count != 1 || file.count != 1 || sources.count != 1) return;
    if (line_hash.kind != FlatKind::kString || file.kind != FlatKind::kString ||
        sources.kind != FlatKind::kStringArray) {
      return;
    }
    bool match = false;
    for_each_flat_string(sources.text, [&](std::string_view source) { match = match || sections_.contains(source); });
    if (!match) return;
    DocumentRecord record{std::string(line_hash.text), std::string(file.text), {}};
    for_each_flat_string(sources.text, [&](std::string_view source) { record.sources.emplace_back(source); });
    out.push_back(std::move(record));
  });
}

Result<std::vector<DocumentRecord>> document_scan(std::string_view zr_dir, const StringSet& sections) {
  return scan_layer<DocumentRecord>(
      zr_dir, kDocumentIndexLayer, !sections.empty(),
      [&](std::string_view text, std::vector<DocumentRecord>& out) { DocumentFilter(sections).Collect(text, out); });
}

Result<std::vector<std::string>> sections_by_authors(std::string_view zr_dir,
                                                     const std::vector<std::string>& author_ids) {
  const StringSet ids(author_ids.begin(), author_ids.end());
  return scan_sections(zr_dir, !ids.empty(), [&](const registry::Section& section) {
    for (const std::string& author : section.authors) {
      if (ids.contains(author)) return true;
    }
    return false;
  });
}

Result<std::vector<std::string>> sections_by_license(std::string_view zr_dir, std::string_view license) {
  return scan_sections(zr_dir, true, [&](const registry::Section& section) { return section.license == license; });
}

}  // namespace zr::index
