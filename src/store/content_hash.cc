#include "store/content_hash.h"

// The one-shot SHA256() of OpenSSL 3 goes through its provider machinery on
// every call (a fetch and three heap allocations), which costs about as much
// as hashing a typical line. The context-on-the-stack functions hash with the
// same assembly and allocate nothing; they are deprecated in OpenSSL 3 only
// in favour of that machinery.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "store/json_write.h"

namespace zr::store {

void sha256_hex_into(std::string_view bytes, char out[64]) {
  static constexpr char kHex[] = "0123456789abcdef";
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, bytes.data(), bytes.size());
  SHA256_Final(digest, &context);
  for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
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
// Value of each byte as a hex digit (either case), or -1. A table keeps key
// decoding branch-free: index builds decode millions of keys.
constexpr std::array<int8_t, 256> make_hex_table() {
  std::array<int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}
constexpr std::array<int8_t, 256> kHexValue = make_hex_table();
}  // namespace

std::optional<HashKey> decode_hash_key(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  HashKey key;
  int bad = 0;
  for (size_t i = 0; i < 32; ++i) {
    int hi = kHexValue[static_cast<unsigned char>(hex[2 * i])];
    int lo = kHexValue[static_cast<unsigned char>(hex[2 * i + 1])];
    bad |= hi | lo;  // any -1 sets the sign bit
    key[i] = static_cast<uint8_t>((hi << 4) | (lo & 0xF));
  }
  if (bad < 0) return std::nullopt;
  return key;
}

}  // namespace zr::store
