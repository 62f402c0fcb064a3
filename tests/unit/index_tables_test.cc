#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/attribution_tables.h"

namespace zr::index {
namespace {

PackedPrefix P(const char (&name)[3]) { return pack_prefix(name); }

TEST(PrefixSets, KeepsKeysAndSetsThroughGrowth) {
  PrefixSets sets;
  for (int i = 0; i < 5000; ++i) {
    const uint32_t slot = sets.Slot("key-" + std::to_string(i));
    ASSERT_EQ(slot, static_cast<uint32_t>(i));
    sets.Add(slot, static_cast<PackedPrefix>(i));
  }
  ASSERT_EQ(sets.size(), 5000u);
  for (int i = 0; i < 5000; ++i) {
    const std::string key = "key-" + std::to_string(i);
    ASSERT_EQ(sets.Find(key), i);
    ASSERT_EQ(sets.Slot(key), static_cast<uint32_t>(i));
    ASSERT_EQ(sets.key(static_cast<uint32_t>(i)), key);
    ASSERT_EQ(sets.Sorted(static_cast<uint32_t>(i)), std::vector<PackedPrefix>{static_cast<PackedPrefix>(i)});
  }
  EXPECT_EQ(sets.Find("key-5000"), -1);
  EXPECT_EQ(sets.Find(""), -1);
}

TEST(PrefixSets, SetsAreDistinctAndInByteOrder) {
  PrefixSets sets;
  const uint32_t s = sets.Slot("k");
  for (PackedPrefix p : {P("a0"), P("3F"), P("3f"), P("a0"), P("zz"), P("3F"), P("00"), P("3:")}) sets.Add(s, p);
  // Byte order: ":" (0x3a) < "F" (0x46) < "f" (0x66).
  EXPECT_EQ(sets.Sorted(s), (std::vector<PackedPrefix>{P("00"), P("3:"), P("3F"), P("3f"), P("a0"), P("zz")}));
}

}  // namespace
}  // namespace zr::index
