#include "token_index/source_groups.h"

#include <algorithm>
#include <cstring>


namespace zr::token_index {

namespace {

constexpr size_t kMaxGroups = 0xFFFFFFFFu;

}  // namespace

void SourceGroups::Flush() {
  uint64_t hashes[kBatch];
  uint32_t groups[kBatch];
  for (size_t i = 0; i < pending_count_; ++i) {
    hashes[i] = store::HashKeyMap::HashOf(pending_[i].key);
    groups_.Prefetch(hashes[i]);
  }
  for (size_t i = 0; i < pending_count_; ++i) {
    groups[i] = GroupOf(pending_[i].key, hashes[i]);
    if (groups[i] != kNoGroup) __builtin_prefetch(&counts_[groups[i]]);
  }
  for (size_t i = 0; i < pending_count_; ++i) {
    if (groups[i] == kNoGroup) continue;
    ++counts_[groups[i]];
    pairs_.push_back(Pair{groups[i], pending_[i].entry});
  }
  pending_count_ = 0;
}

// The key's group, a new one if the key is new; kNoGroup once there are no
// more group numbers.
uint32_t SourceGroups::GroupOf(const store::HashKey& key, uint64_t hash) {
  const auto [group, added] = groups_.TryEmplace(key, hash, keys_.size() < kMaxGroups ? keys_.size() : kNoGroup);
  if (!added || group == kNoGroup) {
    overflowed_ |= group == kNoGroup;
    return static_cast<uint32_t>(group);
  }
  keys_.push_back(key);
  counts_.push_back(0);
  return static_cast<uint32_t>(group);
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
