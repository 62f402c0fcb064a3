// The document index: which tracked line (by line hash) was seen in which
// file and is attributed to which sources. Lines live in the shards of the
// `document-index` layer, keyed by the first two characters of the hash, and
// are only ever appended here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "json/value.h"
#include "tracking/document_record.h"

namespace zr::tracking {

// Appends one line (revoked false) to the shard of `line_hash`. The layer
// directory is not created: a store without one is an error with the
// system's message. A hash that cannot name a shard safely (too short, or
// "/", NUL, "." or "..") is refused before anything is touched.
base::Status index_document(std::string_view zr_dir, std::string_view line_hash, std::string_view file,
                            const std::vector<std::string>& sources, std::string_view source_type);

// Every record of `line_hash` (byte-for-byte equal) in its shard, in file
// order, copies included. Lines that do not read as a record, or repeat one
// of its members, are skipped. A missing store or shard is empty. The hash is
// refused as index_document refuses it.
base::Result<std::vector<DocumentRecord>> lookup_document(std::string_view zr_dir, std::string_view line_hash);

// Every stored line of every shard that reads as a record (a repeated member
// keeps its last value), whole, with all its members. Shards in listing
// order, lines in file order.
base::Result<std::vector<json::Value>> read_all_documents(std::string_view zr_dir);

}  // namespace zr::tracking
