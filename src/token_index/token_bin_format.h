// The token binary index file: layout constants and the encoder.
//
// Little-endian throughout. A 64-byte header (magic "ZRIDXTI01", version 1,
// entry count n, source count k, and the offsets of the three tables), then
// the entry table (n records of 16 bytes: chunk number u16, line offset u32,
// line length u32, revoked flag u8, 5 zero bytes), the source table (k
// records sorted by key: 32-byte key, count c u16, c entry numbers u32), and
// the fanout table (256 u64 offsets of the first record per first key byte,
// 0 for none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "store/content_hash.h"
#include "token_index/source_groups.h"

namespace zr::token_index {

inline constexpr std::string_view kTokenBinMagic = "ZRIDXTI01";
inline constexpr uint32_t kTokenBinVersion = 1;

inline constexpr size_t kHeaderSize = 64;
inline constexpr size_t kVersionAt = 9;
inline constexpr size_t kEntryCountAt = 13;
inline constexpr size_t kSourceCountAt = 17;
inline constexpr size_t kEntryTableAt = 21;
inline constexpr size_t kSourceTableAt = 25;
inline constexpr size_t kFanoutTableAt = 29;

inline constexpr size_t kEntryRecordSize = 16;
inline constexpr size_t kEntryChunkAt = 0;
inline constexpr size_t kEntryOffsetAt = 2;
inline constexpr size_t kEntryLengthAt = 6;
inline constexpr size_t kEntryFlagAt = 10;

inline constexpr size_t kSourceRecordHeader = 34;  // key and count
inline constexpr size_t kSourceCountInRecord = 32;
inline constexpr size_t kFanoutSize = 256 * 8;

// The most entry numbers one source key can list, and the largest chunk
// number an entry record can name.
inline constexpr uint64_t kMaxEntriesPerSource = 0xFFFF;
inline constexpr uint64_t kMaxChunkNumber = 0xFFFF;

// One merged entry as the index records it.
struct EntryRef {
  uint64_t chunk_number = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
  bool revoked = false;
};

struct EncodedIndex {
  std::string bytes;
  uint32_t entry_count = 0;
  uint32_t source_count = 0;
};

// The file's bytes, from the entries in entry-number order and the source
// pairs grouped by key. Fails, naming the limit, when the data does not fit the
// format (chunk numbers above 65535, offsets, lengths or the file reaching
// 4 GiB, more than 65535 entry numbers under one key): a file that silently
// wrapped such values would point readers at the wrong lines.
base::Result<EncodedIndex> encode_token_bin_index(const std::vector<EntryRef>& entries, SourceGroups sources);

}  // namespace zr::token_index
