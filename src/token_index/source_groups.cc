#include "token_index/source_groups.h"

#include <algorithm>
#include <cstring>

namespace zr::token_index {

namespace {

// Source keys are usually SHA-256 values, but any 64 hex digits make one:
// mix all of their bytes so that keys alike in a part still spread.
uint64_t hash_of(const store::HashKey& key) {
  uint64_t words[4];
  std::memcpy(words, key.data(), sizeof words);
  uint64_t h = (words[0] * 0x9E3779B97F4A7C15ULL) ^ (words[1] * 0xC2B2AE3D27D4EB4FULL) ^
               (words[2] * 0x165667B19E3779F9ULL) ^ (words[3] * 0xD6E8FEB86659FD93ULL);
  return h ^ (h >> 29);
}

constexpr uint64_t kGroupMask = 0xFFFFFFFFULL;
// The last group number is kept free so that a slot never equals kEmptySlot.
constexpr size_t kMaxGroups = 0xFFFFFFFFULL;

}  // namespace

void SourceGroups::Add(const store::HashKey& key, uint32_t entry) {
  const uint32_t group = GroupOf(key);
  if (overflowed_ && group >= keys_.size()) return;
  ++counts_[group];
  pairs_.push_back(Pair{group, entry});
}

uint32_t SourceGroups::GroupOf(const store::HashKey& key) {
  if (2 * (keys_.size() + 1) > slots_.size()) Grow();
  const uint64_t hash = hash_of(key);
  const uint64_t tag = hash & ~kGroupMask;
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    const uint64_t slot = slots_[i];
    if (slot == kEmptySlot) {
      if (keys_.size() >= kMaxGroups) {
        overflowed_ = true;
        return static_cast<uint32_t>(kMaxGroups);
      }
      const auto group = static_cast<uint32_t>(keys_.size());
      slots_[i] = tag | group;
      keys_.push_back(key);
      counts_.push_back(0);
      return group;
    }
    const auto group = static_cast<uint32_t>(slot & kGroupMask);
    if ((slot & ~kGroupMask) == tag && keys_[group] == key) return group;
  }
}

void SourceGroups::Grow() {
  std::vector<uint64_t> old = std::move(slots_);
  slots_.assign(std::max<size_t>(1024, 2 * old.size()), kEmptySlot);
  const size_t mask = slots_.size() - 1;
  for (uint64_t slot : old) {
    if (slot == kEmptySlot) continue;
    size_t i = static_cast<size_t>(hash_of(keys_[slot & kGroupMask])) & mask;
    while (slots_[i] != kEmptySlot) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::vector<uint32_t> SourceGroups::groups_by_key() const {
  std::vector<uint32_t> order(keys_.size());
  for (size_t g = 0; g < order.size(); ++g) order[g] = static_cast<uint32_t>(g);
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return std::memcmp(keys_[a].data(), keys_[b].data(), 32) < 0; });
  return order;
}

}  // namespace zr::token_index
