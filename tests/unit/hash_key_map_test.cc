// The map from hash keys to numbers behind the index builds: it must keep
// every distinct key apart, including keys that share most of their bytes,
// across the growth of its table.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "store/hash_key_map.h"

namespace zr::store {
namespace {

TEST(HashKeyMap, KeepsFirstValuesOfKeysAlikeInAllButOneWord) {
  std::mt19937_64 rng(5);
  std::vector<HashKey> keys;
  for (int i = 0; i < 6000; ++i) {
    HashKey key{};
    // Most keys differ in one 8-byte word only, the others in every byte.
    if (i % 3 == 0) {
      for (uint8_t& b : key) b = static_cast<uint8_t>(rng());
    } else {
      key[8 * (i % 4) + static_cast<size_t>(i % 8)] = static_cast<uint8_t>(i);
      key[8 * (i % 4)] ^= static_cast<uint8_t>(i >> 8);
    }
    keys.push_back(key);
  }
  HashKeyMap map;
  std::map<HashKey, uint64_t> expected;
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < keys.size(); ++i) {
      const uint64_t value = round * 100000 + i;
      auto [stored, added] = map.TryEmplace(keys[i], value);
      auto [it, expected_added] = expected.try_emplace(keys[i], value);
      ASSERT_EQ(added, expected_added) << "key " << i << " round " << round;
      ASSERT_EQ(stored, it->second) << "key " << i << " round " << round;
    }
  }
  EXPECT_EQ(map.size(), expected.size());
}

}  // namespace
}  // namespace zr::store
