// Full scans of the `document-index` layer for the attribution queries (see
// store/layer_scan.h): lines in file order, duplicates kept.
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
base::Result<std::vector<tracking::DocumentRecord>> document_scan(std::string_view zr_dir,
                                                                  const base::StringSet& sections);

// Reads the document records of one layer file's text and keeps those with
// a source in `sections`. Most lines are only scanned, not parsed: a record
// is built for the matching ones alone.
class DocumentFilter {
 public:
  explicit DocumentFilter(const base::StringSet& sections) : sections_(sections) {}
  void Collect(std::string_view text, std::vector<tracking::DocumentRecord>& out);

 private:
  bool AnySource(const std::vector<std::string>& sources) const;

  const base::StringSet& sections_;
  json::Parser parser_;  // for lines outside the flat form
};

}  // namespace zr::index
