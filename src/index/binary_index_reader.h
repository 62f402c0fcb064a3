// Reading index.bin: opening checks and key lookups.
//
// The file may be damaged or caught half-written by a concurrent build, so
// every offset read from it is checked against the bytes actually present:
// a lookup in a damaged file returns nothing rather than reading outside them.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/status.h"
#include "index/binary_index_format.h"

namespace zr::index {

// The format over bytes owned by someone else (a mapping, a buffer).
class BinaryIndexView {
 public:
  // Checks the size and magic and locates the tables. Errors:
  // "binary index file too small: <size> bytes", the old-format message,
  // "binary index magic mismatch".
  static base::Result<BinaryIndexView> Parse(std::string_view bytes);

  // The refs of the key given as 64 hex digits (either case). A text that is
  // not a key, a key not present, or a damaged file give an empty list.
  std::vector<Ref> Lookup(std::string_view key_hex) const;
  std::vector<Ref> Lookup(const store::HashKey& key) const;

  // The entry count as stored in the header.
  uint32_t stored_entry_count() const;
  // T, as stored in the header.
  uint64_t fanout_offset() const { return fanout_offset_; }
  // Position of the first line offset and the stored count; both 0 when the
  // file has no line-offset table. The count is not checked against the size.
  uint64_t line_table_position() const { return line_table_position_; }
  uint32_t line_table_count() const { return line_table_count_; }

 private:
  explicit BinaryIndexView(std::string_view bytes) : bytes_(bytes) {}
  uint64_t slot(size_t b) const;

  std::string_view bytes_;
  uint64_t fanout_offset_ = 0;
  bool fanout_inside_ = false;
  uint64_t line_table_position_ = 0;
  uint32_t line_table_count_ = 0;
};

// An opened index.bin: the read-only mapping and the view over it.
class BinaryIndex {
 public:
  // Opens <zr_dir>/.zr/index.bin. nullopt when the file does not exist or
  // cannot be examined; "opening <path>" when it cannot be opened; otherwise
  // the view's errors.
  static base::Result<std::optional<BinaryIndex>> Open(std::string_view zr_dir);
  // The same for a file at any path.
  static base::Result<std::optional<BinaryIndex>> OpenPath(const std::string& path);

  BinaryIndex(BinaryIndex&&) = default;
  BinaryIndex& operator=(BinaryIndex&&) = default;

  std::vector<Ref> Lookup(std::string_view key_hex) const { return view_.Lookup(key_hex); }
  std::vector<Ref> Lookup(const store::HashKey& key) const { return view_.Lookup(key); }
  const BinaryIndexView& view() const { return view_; }

 private:
  BinaryIndex(base::MappedFile file, BinaryIndexView view) : file_(std::move(file)), view_(view) {}

  base::MappedFile file_;  // owns the bytes view_ looks at
  BinaryIndexView view_;  // stays valid when moved: the mapping does not move
};

// The shards the index lists for any of `keys` (key texts), ascending and
// without repeats; token refs are passed over.
template <typename Keys>
std::set<uint8_t> shards_of(const BinaryIndex& index, const Keys& keys) {
  std::set<uint8_t> shards;
  for (const auto& key : keys) {
    for (const Ref& ref : index.Lookup(key)) {
      if (const auto* shard = std::get_if<ShardRef>(&ref)) shards.insert(shard->shard);
    }
  }
  return shards;
}

}  // namespace zr::index
