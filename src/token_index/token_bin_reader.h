// Reading a token binary index through a memory map.
//
// Every read stays inside the mapped file: opening checks that the three
// tables lie inside it, and lookups check every record they touch, so a
// damaged or truncated file gives an error or an empty answer, never a read
// past its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/status.h"
#include "store/content_hash.h"

namespace zr::token_index {

struct TokenBinEntry {
  uint16_t chunk = 0;  // chunk file number
  uint32_t offset = 0;
  uint32_t length = 0;
  bool revoked = false;
};

// A source string's key: only 64-digit hex strings (either case) have one.
std::optional<store::HashKey> source_key(std::string_view source);
// The keys of those sources that have one.
std::vector<store::HashKey> source_keys(const std::vector<std::string>& sources);

class TokenBinIndex {
 public:
  // Opens "token-index.<tokenizer>.bin" of the store. nullopt when the file
  // is not there; an error when it cannot be opened or mapped, is too small,
  // has another magic or version, or its tables lie outside it.
  static base::Result<std::optional<TokenBinIndex>> Open(std::string_view zr_dir, std::string_view tokenizer);
  // The same for a file given by path.
  static base::Result<std::optional<TokenBinIndex>> OpenFile(const std::string& path);

  const std::string& path() const { return path_; }
  uint32_t entry_count() const { return entry_count_; }

  // Whether the index may stand in for the chunk files: true only when it is
  // strictly newer (full timestamp precision) than every regular file of its
  // merged directory, so a change in the same clock tick as a build is never
  // hidden. No merged directory to compare with counts as current; one that
  // cannot be listed (a file in its place) does not.
  bool IsCurrent() const;

  // Entry number `number`, or nullopt beyond the entry count.
  std::optional<TokenBinEntry> entry(uint64_t number) const;

  // The entry numbers listed under any of `keys`, ascending, without
  // repeats. An error when a source record the lookup needs is damaged.
  base::Result<std::vector<uint32_t>> LookupSources(const std::vector<store::HashKey>& keys) const;

  // ceil(n / 8) bytes; bit i % 8 of byte i / 8 (least significant first) set
  // when entry i is revoked.
  std::string RevokedBitMask() const;

 private:
  TokenBinIndex() = default;

  base::MappedFile map_;
  std::string path_;
  uint32_t entry_count_ = 0;
  uint64_t entry_table_ = 0;
  uint64_t source_table_ = 0;
  uint64_t fanout_table_ = 0;
};

}  // namespace zr::token_index
