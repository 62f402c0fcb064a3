#include "store/content_hash.h"

#include <bit>
#include <cstring>

#include "json/write.h"
#include "store/sha256.h"

namespace zr::store {

void sha256_hex_into(std::string_view bytes, char out[64]) {
  static constexpr char kHex[] = "0123456789abcdef";
  Sha256Digest digest;
  sha256(bytes, digest);
  for (size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
}

std::string sha256_hex(std::string_view bytes) {
  std::string hex(64, '0');
  sha256_hex_into(bytes, hex.data());
  return hex;
}

std::string content_hash(const json::Value& value) { return sha256_hex(json::to_compact(value)); }

namespace {

constexpr uint64_t kEachByte = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// The high bit of each byte of `x` (all bytes below 0x80) that lies in
// [lo, hi]: adding 0x80 - lo sets it from lo up, adding 0x7F - hi from above
// hi up, and no byte carries into the next.
uint64_t bytes_in(uint64_t x, uint8_t lo, uint8_t hi) {
  return (x + kEachByte * (0x80 - lo)) & ~(x + kEachByte * (0x7F - hi)) & kHighBits;
}

// Decodes eight hex digits (either case) into four bytes, in order; false
// when one of them is no hex digit. Index builds decode millions of keys:
// eight digits at a time, without a branch per digit.
bool decode_eight(const char* hex, uint8_t* out) {
  uint64_t x;  // first digit in the low byte
  std::memcpy(&x, hex, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  if (x & kHighBits) return false;
  const uint64_t digits = bytes_in(x, '0', '9');
  // Setting bit 0x20 maps 'A'-'F' onto 'a'-'f' and nothing else onto them.
  const uint64_t letters = bytes_in(x | (kEachByte * 0x20), 'a', 'f');
  if ((digits | letters) != kHighBits) return false;
  const uint64_t nibbles = (x & (kEachByte * 0x0F)) + (letters >> 7) * 9;
  // Each 16-bit lane: high digit in its low byte, low digit in its high one.
  uint64_t v = ((nibbles & 0x000F000F000F000FULL) << 4) | ((nibbles & 0x0F000F000F000F00ULL) >> 8);
  v = (v | (v >> 8)) & 0x0000FFFF0000FFFFULL;
  v = v | (v >> 16);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
  return true;
}

}  // namespace

std::optional<HashKey> decode_hash_key(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  HashKey key;
  bool ok = true;
  for (size_t i = 0; i < 8; ++i) ok &= decode_eight(hex.data() + 8 * i, key.data() + 4 * i);
  if (!ok) return std::nullopt;
  return key;
}

}  // namespace zr::store
