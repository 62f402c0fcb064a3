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

bool same_key(const store::HashKey& a, const store::HashKey& b) {
  uint64_t x[4], y[4];
  std::memcpy(x, a.data(), sizeof x);
  std::memcpy(y, b.data(), sizeof y);
  return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3])) == 0;
}

// The empty-slot mark is no group number.
constexpr size_t kMaxGroups = 0xFFFFFFFFu;

}  // namespace

void SourceGroups::Flush() {
  uint64_t hashes[kBatch];
  if (2 * (keys_.size() + pending_count_) > slots_.size()) Grow();
  const size_t mask = slots_.size() - 1;
  for (size_t i = 0; i < pending_count_; ++i) {
    hashes[i] = hash_of(pending_[i].key);
    __builtin_prefetch(&slots_[hashes[i] & mask]);
  }
  for (size_t i = 0; i < pending_count_; ++i) {
    const uint32_t group = GroupOf(pending_[i].key, hashes[i]);
    if (group == kEmptySlot) continue;
    ++counts_[group];
    pairs_.push_back(Pair{group, pending_[i].entry});
  }
  pending_count_ = 0;
}

// The key's group, a new one if the key is new; kEmptySlot once there are
// no more group numbers.
uint32_t SourceGroups::GroupOf(const store::HashKey& key, uint64_t hash) {
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.group == kEmptySlot) {
      if (keys_.size() >= kMaxGroups) {
        overflowed_ = true;
        return kEmptySlot;
      }
      slot.key = key;
      slot.group = static_cast<uint32_t>(keys_.size());
      keys_.push_back(key);
      counts_.push_back(0);
      return slot.group;
    }
    if (same_key(slot.key, key)) return slot.group;
  }
}

void SourceGroups::Grow() {
  std::vector<Slot> old = std::move(slots_);
  size_t size = std::max<size_t>(1024, old.size());
  while (size < 2 * (keys_.size() + kBatch)) size *= 2;
  slots_.assign(size, Slot{{}, kEmptySlot});
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.group == kEmptySlot) continue;
    size_t i = static_cast<size_t>(hash_of(slot.key)) & mask;
    while (slots_[i].group != kEmptySlot) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::vector<uint32_t> SourceGroups::groups_by_key() const {
  // Sorting by the first eight bytes, read big-endian, decides almost every
  // comparison without a byte-wise compare.
  struct Sortable {
    uint64_t prefix;
    uint32_t group;
  };
  std::vector<Sortable> sortable(keys_.size());
  for (size_t g = 0; g < keys_.size(); ++g) {
    uint64_t prefix = 0;
    for (int b = 0; b < 8; ++b) prefix = (prefix << 8) | keys_[g][b];
    sortable[g] = Sortable{prefix, static_cast<uint32_t>(g)};
  }
  std::sort(sortable.begin(), sortable.end(), [&](const Sortable& a, const Sortable& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return std::memcmp(keys_[a.group].data(), keys_[b.group].data(), 32) < 0;
  });
  std::vector<uint32_t> order(sortable.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = sortable[i].group;
  return order;
}

}  // namespace zr::token_index
