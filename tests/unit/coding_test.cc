#include "base/coding.h"

#include <gtest/gtest.h>

#include <string>

namespace zr {
namespace {

TEST(Coding, LittleEndianRoundTrip) {
  std::string buf;
  base::put_fixed16(buf, 0x0102);
  base::put_fixed32(buf, 0x03040506);
  base::put_fixed64(buf, 0x0708090A0B0C0D0EULL);
  EXPECT_EQ(buf, std::string("\x02\x01\x06\x05\x04\x03\x0E\x0D\x0C\x0B\x0A\x09\x08\x07", 14));
  EXPECT_EQ(base::decode_fixed16(buf.data()), 0x0102);
  EXPECT_EQ(base::decode_fixed32(buf.data() + 2), 0x03040506u);
  EXPECT_EQ(base::decode_fixed64(buf.data() + 6), 0x0708090A0B0C0D0EULL);

  // High bits survive (no sign extension through char).
  char raw[8];
  base::encode_fixed64(raw, ~uint64_t{0} - 1);
  EXPECT_EQ(base::decode_fixed64(raw), ~uint64_t{0} - 1);
  base::encode_fixed32(raw, 0xFFFFFF80u);
  EXPECT_EQ(base::decode_fixed32(raw), 0xFFFFFF80u);
  base::encode_fixed16(raw, 0x80FF);
  EXPECT_EQ(base::decode_fixed16(raw), 0x80FF);
}

}  // namespace
}  // namespace zr
