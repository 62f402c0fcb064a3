#include "store/hash_key_map.h"

#include <algorithm>
#include <cstring>

namespace zr::store {

namespace {

bool same_key(const HashKey& a, const HashKey& b) {
  uint64_t x[4], y[4];
  std::memcpy(x, a.data(), sizeof x);
  std::memcpy(y, b.data(), sizeof y);
  return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3])) == 0;
}

}  // namespace

uint64_t HashKeyMap::HashOf(const HashKey& key) {
  // Keys are usually SHA-256 values, but any 64 hex digits make one: mix
  // all of their bytes, so that keys alike in a part still spread.
  uint64_t words[4];
  std::memcpy(words, key.data(), sizeof words);
  const uint64_t h = (words[0] * 0x9E3779B97F4A7C15ULL) ^ (words[1] * 0xC2B2AE3D27D4EB4FULL) ^
                     (words[2] * 0x165667B19E3779F9ULL) ^ (words[3] * 0xD6E8FEB86659FD93ULL);
  return h ^ (h >> 29);
}

std::pair<uint64_t, bool> HashKeyMap::TryEmplace(const HashKey& key, uint64_t hash, uint64_t value) {
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
    if (same_key(slot.key, key)) return {slot.value, false};
  }
}

void HashKeyMap::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(std::max<size_t>(1024, 2 * old.size()), Slot{});
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.value == kNoValue) continue;
    size_t i = static_cast<size_t>(HashOf(slot.key)) & mask;
    while (slots_[i].value != kNoValue) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace zr::store
