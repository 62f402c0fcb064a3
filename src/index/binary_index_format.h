// The binary attribution index, <zr_dir>/.zr/index.bin: what it holds and the
// fixed parts of its layout. The writer and the reader share these.
//
// Layout (little-endian):
//   0      magic "ZRIDXF02"
//   8      entry count (u32)
//   12     reserved (u32, 0)
//   16     T, offset of the fanout table (u64)
//   24     entry records in ascending key order:
//            key (32 bytes), payload size m (u16), m payload bytes of refs
//   T      fanout: 256 u64 slots, slot b = offset of the first record whose
//          key begins with byte b, or 0
//   T+2048 optional line-offset table: count N (u32), N offsets (u32)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "store/content_hash.h"
#include "store/store_paths.h"

namespace zr::index {

inline constexpr std::string_view kBinaryIndexName = "index.bin";
inline constexpr std::string_view kBinaryIndexMagic = "ZRIDXF02";
// Files of the first format are refused with a hint to rebuild.
inline constexpr std::string_view kBinaryIndexOldMagic = "ZRIDXF01";

inline constexpr size_t kHeaderSize = 24;
inline constexpr size_t kEntryCountOffset = 8;
inline constexpr size_t kFanoutOffsetField = 16;
inline constexpr size_t kFanoutSlots = 256;
inline constexpr size_t kFanoutSize = kFanoutSlots * 8;
inline constexpr size_t kMinFileSize = kHeaderSize + kFanoutSize;  // 2072: no entries, no line table
inline constexpr size_t kRecordHeaderSize = 34;                    // key + payload size

inline constexpr size_t kMaxPayloadSize = 65535;
inline constexpr size_t kMaxTokenizerNameSize = 255;

inline constexpr uint8_t kShardRefTag = 0;
inline constexpr uint8_t kTokenRefTag = 1;
inline constexpr size_t kShardRefSize = 2;
inline constexpr size_t kTokenRefFixedSize = 12;  // tag, name length, chunk, offset, length

// What one entry's payload holds: shard refs first, as many as fit; the
// room they leave goes to token refs, a prefix of them in their order.
inline size_t shard_refs_kept(size_t shard_refs) { return std::min(shard_refs, kMaxPayloadSize / kShardRefSize); }
inline size_t token_ref_room(size_t shard_refs) {
  return kMaxPayloadSize - shard_refs_kept(shard_refs) * kShardRefSize;
}
inline size_t token_ref_size(std::string_view tokenizer) { return kTokenRefFixedSize + tokenizer.size(); }

// The shard of the next layer whose two-hex-digit name is `shard`.
struct ShardRef {
  uint8_t shard = 0;
  bool operator==(const ShardRef&) const = default;
};

// One line of a tokenizer's merged token index that names the key.
struct TokenRef {
  std::string tokenizer;
  uint16_t chunk = 0;   // the chunk file's number modulo 65536
  uint32_t offset = 0;  // of the line's first byte in the chunk file
  uint32_t length = 0;  // up to, not including, the "\n"
  bool operator==(const TokenRef&) const = default;
};

using Ref = std::variant<ShardRef, TokenRef>;

struct IndexEntry {
  store::HashKey key{};
  std::vector<Ref> refs;
};

// <zr_dir>/.zr/index.bin
inline std::string binary_index_file_path(std::string_view zr_dir) {
  return store::store_path(zr_dir, kBinaryIndexName);
}

}  // namespace zr::index
