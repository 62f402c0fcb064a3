// Full scans of the `document-index` layer for the attribution queries (see
// store/layer_scan.h): lines in file order, duplicates kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/string_set.h"
#include "json/parse.h"
#include "store/string_set_lines.h"
#include "tracking/document_record.h"

namespace zr::index {

// Every document record one of whose sources is in `sections`.
base::Result<std::vector<tracking::DocumentRecord>> document_scan(std::string_view zr_dir,
                                                                  const base::StringSet& sections);

// Reads the document records of one layer file's text and keeps those with
// a source in `sections`. Lines that cannot name any of them are passed
// over unread (see store/string_set_lines.h); of the others, most are only
// scanned, not parsed: a record is built for the matching ones alone.
class DocumentFilter {
 public:
  explicit DocumentFilter(const base::StringSet& sections)
      : sections_(sections), own_candidates_(std::in_place, sections), candidates_(*own_candidates_) {}
  // With `candidates` built from `sections` beforehand: both may serve many
  // filters at once, on several threads.
  DocumentFilter(const base::StringSet& sections, const store::StringSetLines& candidates)
      : sections_(sections), candidates_(candidates) {}
  void Collect(std::string_view text, std::vector<tracking::DocumentRecord>& out);

 private:
  bool AnySource(const std::vector<std::string>& sources) const;
  void CollectLine(std::string_view line, size_t readable_after, std::vector<tracking::DocumentRecord>& out);

  const base::StringSet& sections_;
  std::optional<store::StringSetLines> own_candidates_;
  const store::StringSetLines& candidates_;
  json::Parser parser_;  // for lines outside the flat form
};

}  // namespace zr::index
