// The attribution queries: which tracked lines belong to an author (by name),
// to the sections of a licence, or to one section.
//
// All three end in a search of the document index for records naming one of
// a set of section hashes. The author query finds that set through index.bin
// when it exists, reading only the shards the index names (and so seeing the
// store as of the last build); otherwise, like the other two, it scans whole
// layers on the worker pool. Records come back as stored, revoked or not.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/string_set.h"
#include "index/binary_index_reader.h"
#include "tracking/document_record.h"

namespace zr::index {

base::Result<std::vector<tracking::DocumentRecord>> show_by_author(std::string_view zr_dir,
                                                                   std::string_view author_name);
base::Result<std::vector<tracking::DocumentRecord>> show_by_license(std::string_view zr_dir, std::string_view license);
base::Result<std::vector<tracking::DocumentRecord>> show_by_section(std::string_view zr_dir,
                                                                    std::string_view section_hash);

// The indexed form of the author query for a set of author ids: the
// `sections` shards the index names for the ids give the sections listing
// one of them, the `document-index` shards it names for those sections give
// the records with one of them among their sources. Shards are read on the
// worker pool and joined in ascending name order; a missing shard is empty,
// one that cannot be opened or mapped is an error (the lowest such shard's).
base::Result<std::vector<tracking::DocumentRecord>> indexed_author_records(std::string_view zr_dir,
                                                                           const BinaryIndex& index,
                                                                           const base::StringSet& author_ids);

}  // namespace zr::index
