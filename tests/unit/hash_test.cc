#include "store/content_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "json/parse.h"

namespace zr {
namespace {

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(store::sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(store::sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(store::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(store::sha256_hex(std::string(1'000'000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ContentHash, HashesTheCompactText) {
  json::Parser parser;
  base::Result<json::Value> value = parser.Parse("{ \"b\" : [1, 2.0], \"a\" : \"\\u00e9\" }");
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(store::content_hash(*value), store::sha256_hex("{\"a\":\"\xc3\xa9\",\"b\":[1,2.0]}"));
  EXPECT_EQ(store::content_hash(json::Value::String("")), store::sha256_hex("\"\""));
}

TEST(HashKey, DecodesSixtyFourHexDigitsOfEitherCase) {
  std::string lower = "00112233445566778899aabbccddeeff0123456789abcdef0123456789abcdef";
  std::string upper = "00112233445566778899AABBCCDDEEFF0123456789ABCDEF0123456789ABCDEF";
  std::string mixed = "00112233445566778899aAbBcCdDeEfF0123456789abcdef0123456789ABCDEF";
  std::optional<store::HashKey> key = store::decode_hash_key(lower);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ((*key)[0], 0x00);
  EXPECT_EQ((*key)[1], 0x11);
  EXPECT_EQ((*key)[10], 0xAA);
  EXPECT_EQ((*key)[15], 0xFF);
  EXPECT_EQ((*key)[31], 0xEF);
  EXPECT_EQ(store::decode_hash_key(upper), key);
  EXPECT_EQ(store::decode_hash_key(mixed), key);
}

TEST(HashKey, OtherTextsHaveNoKey) {
  std::string good(64, 'a');
  EXPECT_TRUE(store::decode_hash_key(good).has_value());
  for (std::string bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(), std::string(128, 'a')}) {
    EXPECT_FALSE(store::decode_hash_key(bad).has_value()) << bad.size();
  }
  for (char c : {'g', 'G', 'x', ' ', '-', '\0', '/', ':', '@', '`'}) {
    for (size_t pos : {size_t{0}, size_t{1}, size_t{63}}) {
      std::string bad = good;
      bad[pos] = c;
      EXPECT_FALSE(store::decode_hash_key(bad).has_value()) << c << " at " << pos;
    }
  }
  // Two bytes of one non-ASCII character in place of two digits.
  std::string accented = good.substr(0, 62) + "\xc3\xa9";
  EXPECT_FALSE(store::decode_hash_key(accented).has_value());
}

// Keys are decoded several digits at a time: every byte value, at every
// position of a key, must be judged and valued as a lone digit would be.
TEST(HashKey, EveryByteAtEveryPositionIsReadAsOneDigit) {
  auto digit_value = [](int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  const std::string base = "0123456789abcdefABCDEF00ff11ee22dd33cc44bb55aa669988776655443322";
  ASSERT_EQ(base.size(), 64u);
  for (size_t pos = 0; pos < 64; ++pos) {
    for (int c = 0; c < 256; ++c) {
      std::string hex = base;
      hex[pos] = static_cast<char>(c);
      std::optional<store::HashKey> key = store::decode_hash_key(hex);
      ASSERT_EQ(key.has_value(), digit_value(c) >= 0) << "byte " << c << " at " << pos;
      if (!key) continue;
      for (size_t i = 0; i < 32; ++i) {
        int expected = digit_value(static_cast<unsigned char>(hex[2 * i])) * 16 +
                       digit_value(static_cast<unsigned char>(hex[2 * i + 1]));
        ASSERT_EQ((*key)[i], expected) << "byte " << c << " at " << pos;
      }
    }
  }
}

}  // namespace
}  // namespace zr
