// A set of keys made of N byte strings that live elsewhere (a mapped file,
// an arena): the set keeps views, never copies.
//
// Identity checks over whole store layers probe it once per record, so it
// is an open-addressing table of (hash, key) slots with linear probing: a
// probe is one or two cache lines and no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/bytes_hash.h"

namespace zr::base {

template <size_t N>
class ViewSet {
 public:
  using Key = std::array<std::string_view, N>;

  // Adds `key` unless an equal key is there; true when it was added. The
  // bytes it views must outlive the set.
  bool Insert(const Key& key) {
    return InsertWith(key, [](const Key& k) { return k; });
  }

  // Insert for a key whose bytes may not last: when it is added, the set
  // keeps keep(key) instead, an equal key whose bytes do.
  template <typename Keep>
  bool InsertWith(const Key& key, Keep&& keep) {
    const uint64_t hash = HashOf(key);
    size_t i = Probe(key, hash);
    if (slots_[i].hash != 0) return false;
    if (2 * (size_ + 1) > slots_.size()) {
      Grow();
      i = Probe(key, hash);
    }
    slots_[i] = Slot{hash, keep(key)};
    ++size_;
    return true;
  }

  bool Contains(const Key& key) const { return slots_[Probe(key, HashOf(key))].hash != 0; }

  // Makes room for `count` keys in all, so that inserting them never grows
  // the table on the way.
  void Reserve(size_t count) {
    while (2 * count > slots_.size()) Grow();
  }

  size_t size() const { return size_; }

 private:
  struct Slot {
    uint64_t hash = 0;  // 0: empty (real hashes have their low bit set)
    Key key{};
  };

  static uint64_t HashOf(const Key& key) {
    uint64_t h = 0;
    for (std::string_view part : key) h = (h ^ hash_bytes(part)) * 0x9E3779B97F4A7C15ULL + 1;
    return (h ^ (h >> 31)) | 1;
  }

  // The slot holding `key`, or the empty slot where it belongs.
  size_t Probe(const Key& key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hash == 0 || (slot.hash == hash && slot.key == key)) return i;
    }
  }

  void Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.hash == 0) continue;
      size_t i = slot.hash & mask;
      while (slots_[i].hash != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_ = std::vector<Slot>(64);
  size_t size_ = 0;
};

}  // namespace zr::base
