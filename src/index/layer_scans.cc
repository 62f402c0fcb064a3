#include "index/layer_scans.h"

#include <array>
#include <utility>

#include "store/flat_object.h"
#include "store/jsonl.h"
#include "store/layer_scan.h"
#include "store/store_paths.h"

namespace zr::index {

namespace {

using tracking::DocumentRecord;

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
  candidates_.ForEachCandidate(
      text, [&](std::string_view line, size_t readable_after) { CollectLine(line, readable_after, out); });
}

void DocumentFilter::CollectLine(std::string_view line, size_t readable_after, std::vector<DocumentRecord>& out) {
  std::array<store::FlatField, 3> fields;
  if (!store::scan_flat_object(line, kDocumentKeys, fields)) {
    std::optional<DocumentRecord> record = tracking::parse_document_line(parser_, line, readable_after);
    if (record && AnySource(record->sources)) out.push_back(std::move(*record));
    return;
  }
  // The record's own members must each occur exactly once.
  const store::FlatField& line_hash = fields[0];
  const store::FlatField& file = fields[1];
  const store::FlatField& sources = fields[2];
  if (line_hash.count != 1 || file.count != 1 || sources.count != 1) return;
  if (line_hash.kind != store::FlatKind::kString || file.kind != store::FlatKind::kString ||
      sources.kind != store::FlatKind::kStringArray) {
    return;
  }
  bool match = false;
  store::for_each_flat_string(sources.text,
                              [&](std::string_view source) { match = match || sections_.contains(source); });
  if (!match) return;
  DocumentRecord record{std::string(line_hash.text), std::string(file.text), {}};
  store::for_each_flat_string(sources.text, [&](std::string_view source) { record.sources.emplace_back(source); });
  out.push_back(std::move(record));
}

base::Result<std::vector<DocumentRecord>> document_scan(std::string_view zr_dir, const base::StringSet& sections) {
  const store::StringSetLines candidates(sections);
  return store::scan_layer_files<DocumentRecord>(
      zr_dir, store::kDocumentIndexLayer, !sections.empty(),
      [&](std::string_view text, std::vector<DocumentRecord>& out) {
        DocumentFilter(sections, candidates).Collect(text, out);
      });
}

}  // namespace zr::index
