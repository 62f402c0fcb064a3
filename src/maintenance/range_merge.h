// Merging a store that was tracked in pieces (a cluster run), one shard
// range at a time, so that no step ever holds the whole store.
//
// Each piece is tracked into a store of its own and split by shard range
// (split_store_records); the texts of one range, taken from every piece in
// piece order, are merged (merge_document_texts), and the result is absorbed
// into the target (absorb_document_texts). All token entries are merged
// apart, in piece order, and absorbed once (absorb_token_text). Every step
// keeps the first record of an identity in reading order and writes records
// as merge_absorb copies them, so the target ends up byte for byte as if the
// pieces had been tracked one after another into one store and that store
// had been merged into the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "maintenance/store_merge.h"
#include "maintenance/store_merge_layers.h"
#include "maintenance/store_merge_tokens.h"

namespace zr::maintenance {

inline constexpr size_t kMaxShardRanges = 256;

// The range of the shard a key names when the 256 shards "00" to "ff" are
// cut into `ranges` runs of consecutive shards of near-equal length. A key
// that names no hex shard falls in range 0.
size_t shard_range_of(std::string_view key, size_t ranges);

// Record texts: JSON Lines of document-index records (one text per shard
// range) and of token-index entries, and how many records were dropped as
// duplicates of an earlier one or for having no identity.
struct RecordTexts {
  std::vector<std::string> documents;
  std::string tokens;
  uint64_t skipped = 0;
};

// The document-index records of the store under `zr_dir`, and the merged
// token-index entries of its `tokenizer` (none without one), each identity
// kept once. `ranges` is 1 to kMaxShardRanges.
base::Result<RecordTexts> split_store_records(std::string_view zr_dir, std::optional<std::string_view> tokenizer,
                                              size_t ranges);

// Document-index records by shard: one text per shard that has any, in
// ascending order of shard name.
struct ShardTexts {
  std::vector<std::string> names;
  std::vector<std::string> texts;
  uint64_t skipped = 0;
};

// The document-index records of `texts`, read in order, each identity kept
// once, one text per shard.
ShardTexts merge_document_texts(std::span<const std::string_view> texts);

// The token-index entries of `texts`, read in order, each identity kept once.
RecordTexts merge_token_texts(std::span<const std::string_view> texts);

// Appends to the target's document-index shards the records of `texts`,
// read in order, whose identity the target does not hold yet, as
// merge_absorb does for a source holding exactly those records, but reading
// only the target shards the records name (and any layer file not named as
// a shard), so that absorbing one shard range costs that range. Sets the
// index's rebuild mark before the first record goes in. Does not build the
// index or log.
//
// `merged` says that each text is one of merge_document_texts' texts: one
// shard's records, each identity once, in the form a merge copies. Then a
// text whose shard the target has no file of (nor any layer file named as
// no shard) is appended as it is without reading its records, which gives
// the same bytes. Other texts, and any whose first and last records do not
// name one shard, are read record by record as without `merged`.
base::Result<LayerMergeCounts> absorb_document_texts(std::string_view target,
                                                     std::span<const std::string_view> texts, bool merged = false);

// Writes the entries of `text` that the target's merged directory for
// `tokenizer` lacks to one new chunk file, as merge_absorb does.
base::Result<TokenMergeCounts> absorb_token_text(std::string_view target, std::string_view tokenizer,
                                                 std::string_view text);

// Appends the "merge" log entry merge_absorb appends, for `counts` taken
// from `source`.
base::Status log_merge(std::string_view target, std::string_view source, const StoreMergeCounts& counts);

}  // namespace zr::maintenance
