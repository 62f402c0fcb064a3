// The (source key, entry number) pairs of a binary index build, grouped by
// key as they arrive.
//
// A million entries name a few million sources but only tens of thousands of
// distinct keys. Each pair costs one hash-table probe here; only the
// distinct keys are sorted later, and the encoder places every entry number
// under its key by counting, instead of sorting all pairs by 32-byte keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/content_hash.h"
#include "store/hash_key_map.h"

namespace zr::token_index {

class SourceGroups {
 public:
  // Adds one pair. Pairs come in ascending entry order (an entry naming a
  // key twice adds it twice), which is the order each key's list keeps.
  // Pairs are taken in small batches: Flush() before reading the groups.
  void Add(const store::HashKey& key, uint32_t entry) {
    pending_[pending_count_++] = Pending{key, entry};
    if (pending_count_ == kBatch) Flush();
  }
  void Flush();

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
  struct Pending {
    store::HashKey key;
    uint32_t entry;
  };
  // Probes of a batch are started together, so that their memory loads
  // overlap instead of waiting one after another.
  static constexpr size_t kBatch = 64;
  // No group has this number: the pairs of a key that got none are dropped.
  static constexpr uint32_t kNoGroup = 0xFFFFFFFFu;

  uint32_t GroupOf(const store::HashKey& key, uint64_t hash);

  std::vector<store::HashKey> keys_;
  std::vector<uint64_t> counts_;
  std::vector<Pair> pairs_;
  store::HashKeyMap groups_;  // key -> group number
  std::array<Pending, kBatch> pending_;
  size_t pending_count_ = 0;
  bool overflowed_ = false;
};

}  // namespace zr::token_index
