#include "store/substring_filter.h"

#include <algorithm>

namespace zr::store {

namespace {

constexpr uint64_t kBase = 1099511628211ULL;  // odd, so the hash mixes every byte

constexpr unsigned kBloomBits = 16;

size_t bloom_bit(uint64_t hash) { return static_cast<size_t>(hash >> (64 - kBloomBits)); }

uint64_t window_hash(std::string_view bytes) {
  uint64_t h = 0;
  for (unsigned char c : bytes) h = h * kBase + c;
  return h;
}

}  // namespace

SubstringFilter::SubstringFilter(const std::vector<std::string>& needles) {
  for (const std::string& needle : needles) {
    if (!needle.empty()) storage_.push_back(needle);
  }
  for (const std::string& needle : storage_) {
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.length == needle.size(); });
    if (it == groups_.end()) {
      Group group;
      group.length = needle.size();
      group.bloom.assign((size_t{1} << kBloomBits) / 64, 0);
      for (size_t i = 1; i < group.length; ++i) group.high_power *= kBase;
      groups_.push_back(std::move(group));
      it = groups_.end() - 1;
    }
    size_t bit = bloom_bit(window_hash(needle));
    it->bloom[bit / 64] |= uint64_t{1} << (bit % 64);
    it->needles.insert(needle);
  }
}

bool SubstringFilter::GroupMatches(const Group& group, std::string_view line) const {
  const size_t n = group.length;
  if (line.size() < n) return false;
  uint64_t h = window_hash(line.substr(0, n));
  for (size_t pos = 0;; ++pos) {
    size_t bit = bloom_bit(h);
    if ((group.bloom[bit / 64] >> (bit % 64) & 1) != 0 && group.needles.contains(line.substr(pos, n))) return true;
    if (pos + n >= line.size()) return false;
    h = (h - static_cast<unsigned char>(line[pos]) * group.high_power) * kBase +
        static_cast<unsigned char>(line[pos + n]);
  }
}

bool SubstringFilter::Matches(std::string_view line) const {
  for (const Group& group : groups_) {
    if (GroupMatches(group, line)) return true;
  }
  return false;
}

}  // namespace zr::store
