#include "store/hash_key_map.h"

#include <algorithm>
#include <cstring>

namespace zr::store {

uint64_t HashKeyMap::HashOf(const HashKey& key) {
  // Keys are usually SHA-256 values, but any 64 hex digits make one: mix
  // all of their bytes, so that keys alike in a part still spread.
  uint64_t words[4];
  std::memcpy(words, key.data(), sizeof words);
  const uint64_t h = (words[0] * 0x9E3779B97F4A7C15ULL) ^ (words[1] * 0xC2B2AE3D27D4EB4FULL) ^
                     (words[2] * 0x165667B19E3779F9ULL) ^ (words[3] * 0xD6E8FEB86659FD93ULL);
  return h ^ (h >> 29);
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
