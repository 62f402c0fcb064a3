#include "index/key_text.h"

#include <array>
#include <cstdint>

namespace zr::index {

namespace {

// Digit values; 0x10 marks a byte that is no hex digit.
constexpr std::array<uint8_t, 256> kDigits = [] {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = 0x10;
  for (int c = 0; c < 10; ++c) t['0' + c] = static_cast<uint8_t>(c);
  for (int c = 0; c < 6; ++c) {
    t['a' + c] = static_cast<uint8_t>(10 + c);
    t['A' + c] = static_cast<uint8_t>(10 + c);
  }
  return t;
}();

}  // namespace

std::optional<HashKey> decode_key(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(hex.data());
  HashKey key;
  uint8_t bad = 0;
  for (size_t i = 0; i < 32; ++i) {
    const uint8_t hi = kDigits[p[2 * i]];
    const uint8_t lo = kDigits[p[2 * i + 1]];
    bad |= hi | lo;
    key[i] = static_cast<uint8_t>(hi << 4 | (lo & 0xF));
  }
  if (bad & 0x10) return std::nullopt;
  return key;
}

}  // namespace zr::index
