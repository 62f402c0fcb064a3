// Copying one layer's records from a source store into a target store,
// record by record, unless the target already holds a record of the same
// identity.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "store/json_value.h"

namespace zr::removal {

struct LayerIdentity {
  std::string_view layer;
  // The identity of a record, or nullopt when it lacks its identifying
  // members (such a record cannot be placed).
  std::optional<std::string> (*identity)(const json::Value& record);
  // The string member whose first characters name the record's shard.
  std::string_view shard_member;
};

// Authors by "id", sections by "section_hash", document-index records by
// the pair "line_hash" and "file".
extern const LayerIdentity kAuthorIdentity;
extern const LayerIdentity kSectionIdentity;
extern const LayerIdentity kDocumentIdentity;

struct LayerMergeCounts {
  uint64_t added = 0;
  uint64_t skipped = 0;
};

// Appends to the target's shards every source record whose identity the
// target does not hold yet (duplicates within the source count once), in
// source order; records without an identity or whose key cannot name a
// shard are skipped. The target's layer directory is not created. On an
// error, records appended before it stay.
base::Result<LayerMergeCounts> merge_layer(std::string_view source, std::string_view target, const LayerIdentity& kind);

}  // namespace zr::removal
