#include <gtest/gtest.h>
#include "store/json_parse.h"
#include "store/json_write.h"
TEST(Smoke, RoundTrip) {
  zr::json::Parser p;
  auto v = p.Parse("{\"b\":1,\"a\":[1,2.5,-3,\"x\"]}");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(zr::json::to_compact(*v), "{\"a\":[1,2.5,-3,\"x\"],\"b\":1}");
}
