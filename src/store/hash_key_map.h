// A map from hash keys to numbers, for builds that meet millions of keys of
// which only tens of thousands differ.
//
// Open addressing with linear probing, each key stored in its slot: a lookup
// touches one place in memory, where a node-based map follows a bucket, a
// node and the key behind it. Callers that look up many keys in a row can
// start the loads early with Prefetch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "store/content_hash.h"

namespace zr::store {

class HashKeyMap {
 public:
  // Values are any number but this one, which marks a free slot.
  static constexpr uint64_t kNoValue = ~uint64_t{0};

  static uint64_t HashOf(const HashKey& key);

  // Starts loading the slot where a key of this hash is looked for first.
  void Prefetch(uint64_t hash) const {
    if (slots_.empty()) return;
    // A slot may straddle two cache lines: load both.
    const char* slot = reinterpret_cast<const char*>(&slots_[hash & (slots_.size() - 1)]);
    __builtin_prefetch(slot);
    __builtin_prefetch(slot + sizeof(Slot) - 1);
  }

  // The value stored for `key` and false; or, for a new key, `value`
  // (stored now) and true. `hash` is HashOf(key).
  std::pair<uint64_t, bool> TryEmplace(const HashKey& key, uint64_t hash, uint64_t value) {
    if (2 * (size_ + 1) > slots_.size()) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.value == kNoValue) {
        slot.key = key;
        slot.value = value;
        ++size_;
        return {value, true};
      }
      if (SameKey(slot.key, key)) return {slot.value, false};
    }
  }
  std::pair<uint64_t, bool> TryEmplace(const HashKey& key, uint64_t value) {
    return TryEmplace(key, HashOf(key), value);
  }

  size_t size() const { return size_; }

 private:
  struct Slot {
    HashKey key;
    uint64_t value = kNoValue;
  };

  static bool SameKey(const HashKey& a, const HashKey& b) {
    uint64_t x[4], y[4];
    std::memcpy(x, a.data(), sizeof x);
    std::memcpy(y, b.data(), sizeof y);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3])) == 0;
  }
  void Grow();

  std::vector<Slot> slots_;  // a power of two of them, at most half used
  size_t size_ = 0;
};

}  // namespace zr::store
