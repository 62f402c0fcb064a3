// Full scans of the `document-index` and `sections` layers for the
// attribution queries: every regular file of the layer is one task on the
// worker pool, and the results are joined in directory-listing order, lines
// in file order, duplicates kept.
//
// A missing layer is empty; a layer that cannot be listed is an error; a
// single file that cannot be opened or mapped contributes nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/string_set.h"
#include "store/json_parse.h"
#include "tracking/document_record.h"

namespace zr::index {

// Every document record one of whose sources is in `sections`.
Result<std::vector<tracking::DocumentRecord>> document_scan(std::string_view zr_dir, const StringSet& sections);

// The section_hash of every section whose authors include one of
// `author_ids`.
Result<std::vector<std::string>> sections_by_authors(std::string_view zr_dir,
                                                     const std::vector<std::string>& author_ids);

// The section_hash of every section whose license equals `license` byte for
// byte.
Result<std::vector<std::string>> sections_by_license(std::string_view zr_dir, std::string_view license);

// Reads the document records of one layer file's text and keeps those with
// a source in `sections`. Most lines are only scanned, not parsed: a record
// is built for the matching ones alone.
class DocumentFilter {
 public:
  explicit DocumentFilter(const StringSet& sections) : sections_(sections) {}
  void Collect(std::string_view text, std::vector<tracking::DocumentRecord>& out);

 private:
  bool AnySource(const std::vector<std::string>& sources) const;

  const StringSet& sections_;
  json::Parser parser_;  // for lines outside the flat form
};

}  // namespace zr::index
