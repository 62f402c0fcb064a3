// Copying one layer's records from a source store into a target store,
// record by record, unless the target already holds a record of the same
// identity.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/status.h"

namespace zr::maintenance {

struct LayerIdentity {
  std::string_view layer;
  // The string members whose values together identify a record (one or
  // two; an unused one is empty). The first one's value names the shard.
  std::array<std::string_view, 2> members;
  size_t member_count;
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

// How records are read. Quick reads lines of the simple flat form in place,
// and copies those already in compact form as they are; Full parses every
// line, as the quick route does for all others. Both give the same bytes
// and counts; Full is there to check that.
enum class MergeRoute { kQuick, kFull };

// Appends to the target's shards every source record whose identity the
// target does not hold yet (duplicates within the source count once), in
// source order, as compact text with sorted keys; records without an
// identity or whose key cannot name a shard are skipped. The target's layer
// directory is not created. `before_first_copy`, when given, runs once
// before the first record is queued; its error ends the merge with nothing
// appended. On an error, records appended before it stay.
base::Result<LayerMergeCounts> merge_layer(std::string_view source, std::string_view target,
                                           const LayerIdentity& kind, MergeRoute route = MergeRoute::kQuick,
                                           const std::function<base::Status()>& before_first_copy = {});

}  // namespace zr::maintenance
