// A fast, well-mixed 64-bit hash of a byte string, for in-memory hash tables
// (never written anywhere: it may change between builds).
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace zr::base {

// Eight bytes per step; the multiply spreads each word over the high bits
// and the shift folds them back, so the low bits that pick a table slot
// depend on every byte.
inline uint64_t hash_bytes(std::string_view bytes) {
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ bytes.size();
  const char* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
    h ^= h >> 32;
  }
  if (n > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ULL;
  }
  return h ^ (h >> 29);
}

}  // namespace zr::base
