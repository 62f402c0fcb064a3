// The `index` layer on disk: replacing it as a whole, and reading it back
// into the entries of index.bin.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "index/attribution_tables.h"
#include "index/binary_index_format.h"
#include "store/hash_key_map.h"

namespace zr::index {

// Deletes every regular file of <zr_dir>/.zr/index (sub-directories stay),
// creates the directory if needed and writes one file per group.
base::Status replace_index_layer(std::string_view zr_dir, const std::vector<IndexGroup>& groups);

// Entries of index.bin being collected, with the position of each key's
// first entry.
struct EntryList {
  std::vector<IndexEntry> entries;
  store::HashKeyMap positions;

  // The position of `key`'s entry, appended (without refs) if new.
  size_t PositionOf(const store::HashKey& key);
};

// One entry per record of the layer whose id is a 64-hex-digit key, with a
// shard ref per element of its refs that spells a byte in hex. Files whose
// name has an extension are not part of the layer.
base::Result<EntryList> read_index_layer(std::string_view zr_dir);

// "+3f", "3F", "a" -> the byte; nullopt for anything else.
std::optional<uint8_t> parse_shard_ref(std::string_view text);

// True when a file name has an extension: a "." after its first character.
bool has_extension(std::string_view name);

}  // namespace zr::index
