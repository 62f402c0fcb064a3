#include "store/string_set_lines.h"

#include <algorithm>
#include <cstring>

namespace zr::store {

namespace {

constexpr size_t kPrefixBits = size_t{1} << 16;

// Which bit of the prefix filter stands for strings of this length and
// first bytes: most runs that are not wanted are turned away on one load.
size_t prefix_bit(std::string_view s) {
  uint64_t head = 0;
  std::memcpy(&head, s.data(), std::min<size_t>(s.size(), 8));
  const uint64_t h = (head ^ (s.size() * 0x9E3779B97F4A7C15ULL)) * 0xFF51AFD7ED558CCDULL;
  return static_cast<size_t>(h >> 48);
}

}  // namespace

StringSetLines::StringSetLines(const base::StringSet& values) : prefix_bits_(kPrefixBits / 64) {
  for (const std::string& value : values) {
    values_.Insert({value});
    if (value.size() < kShortLengths) {
      short_lengths_.set(value.size());
    } else {
      has_long_ = true;
    }
    const size_t bit = prefix_bit(value);
    prefix_bits_[bit / 64] |= uint64_t{1} << (bit % 64);
  }
}

bool StringSetLines::Wanted(std::string_view run) const {
  if (run.size() < kShortLengths ? !short_lengths_.test(run.size()) : !has_long_) return false;
  const size_t bit = prefix_bit(run);
  if ((prefix_bits_[bit / 64] >> (bit % 64) & 1) == 0) return false;
  return values_.Contains({run});
}

}  // namespace zr::store
