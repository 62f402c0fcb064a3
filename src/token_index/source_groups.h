// The (source key, entry number) pairs of a binary index build, grouped by
// key as they arrive.
//
// A million entries name a few million sources but only tens of thousands of
// distinct keys. Each pair costs one hash-table probe here; only the
// distinct keys are sorted later, and the encoder places every entry number
// under its key by counting, instead of sorting all pairs by 32-byte keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/content_hash.h"

namespace zr::token_index {

class SourceGroups {
 public:
  // Adds one pair. Pairs come in ascending entry order (an entry naming a
  // key twice adds it twice), which is the order each key's list keeps.
  void Add(const store::HashKey& key, uint32_t entry);

  // Distinct keys so far; each has a group number below this count, given
  // in order of first appearance.
  size_t group_count() const { return keys_.size(); }
  // True when more distinct keys came than group numbers can tell apart;
  // the pairs of the excess keys were dropped, and the format cannot hold
  // that many sources anyway.
  bool overflowed() const { return overflowed_; }

  const store::HashKey& key(uint32_t group) const { return keys_[group]; }
  uint64_t count(uint32_t group) const { return counts_[group]; }

  // Group numbers in ascending byte order of their keys.
  std::vector<uint32_t> groups_by_key() const;

  // Calls fn(group, entry) for every pair, in the order added.
  template <typename Fn>
  void for_each_pair(Fn&& fn) const {
    for (const Pair& pair : pairs_) fn(pair.group, pair.entry);
  }

 private:
  struct Pair {
    uint32_t group;
    uint32_t entry;
  };
  static constexpr uint64_t kEmptySlot = ~uint64_t{0};

  uint32_t GroupOf(const store::HashKey& key);
  void Grow();

  std::vector<store::HashKey> keys_;
  std::vector<uint64_t> counts_;
  std::vector<Pair> pairs_;
  // Open addressing, linear probing: each slot holds the upper half of the
  // key's hash beside its group number (low half), or kEmptySlot.
  std::vector<uint64_t> slots_;
  bool overflowed_ = false;
};

}  // namespace zr::token_index
