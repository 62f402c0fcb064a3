// The single-pass canonical route against the general one, in every
// instruction-set copy this CPU runs: whatever the fast route takes, the
// general route takes too, with the same bytes; and the combined
// Canonicalize decides every text exactly as the general route alone.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "json/cpu_kernels.h"
#include "support/random_json.h"

namespace zr::json {
namespace {

// Runs `check(parser, name)` once for each copy's parser.
template <typename Check>
void for_each_copy(Check&& check) {
  for (const CpuKernels* copy : runnable_cpu_kernels()) {
    auto parser = copy->new_parser();
    check(*parser, copy->name);
  }
}

// What the fast route gives must be what the general route gives; returns
// whether the fast route took the text.
bool expect_routes_agree(ParserBase& parser, const std::string& text, const char* copy) {
  std::string fast, full, combined;
  const bool fast_ok = parser.CanonicalizeFast(text, fast);
  const bool full_ok = parser.CanonicalizeFull(text, 0, full);
  if (fast_ok) {
    EXPECT_TRUE(full_ok) << copy << ": fast route accepts an invalid text: " << text;
    EXPECT_EQ(fast, full) << copy << ": " << text;
  }
  EXPECT_EQ(parser.Canonicalize(text, 0, combined), full_ok) << copy << ": " << text;
  if (full_ok) {
    EXPECT_EQ(combined, full) << copy << ": " << text;
  }
  return fast_ok;
}

TEST(FastCanonical, AgreesWithTheGeneralRouteOnRandomAndDamagedTexts) {
  for_each_copy([](ParserBase& parser, const char* copy) {
    test::RandomJson texts(20261207);
    int taken = 0, damaged_taken = 0;
    for (int i = 0; i < 6000; ++i) {
      std::string text = texts.text();
      taken += expect_routes_agree(parser, text, copy);
      for (int d = 0; d < 3; ++d) {
        texts.damage(text);
        damaged_taken += expect_routes_agree(parser, text, copy);
      }
      if (::testing::Test::HasFailure()) return;
    }
    // The route must really carry the common shapes, and some damage leaves
    // a text valid.
    EXPECT_GT(taken, 3000) << copy;
    EXPECT_GT(damaged_taken, 500) << copy;
  });
}

TEST(FastCanonical, DeclinesOrMatchesOnEdgeTexts) {
  const char* kTexts[] = {
      // not JSON, or not only one value
      "", " ", "{", "}", "[", "{\"a\"}", "{\"a\":}", "{\"a\":1,}", "[1,]", "[,1]", "{,}", "{\"a\":1}x", "[1]]",
      "{\"a\":1}{}", "[truex]", "[tru]", "[nul]", "[1x]", "[1 2]", "[\"a\"\"b\"]", "[01]", "[-]", "[1.]", "[.5]",
      "[+1]", "[1e]", "[1e+]", "[--1]", "[1.5.2]", "[NaN]", "[-Infinity]", "[1e400]", "{'a':1}", "[\"a]",
      "[\"\\\"]", "{\"a\":1 \"b\":2}", "[\x0c]", "\xef\xbb\xbf[1]", "[\"\\x\"]", "[\"\\u12\"]", "[\"\\ud800\"]",
      "[\"\\udc00\\ud800\"]", "[\"\\ud800\\u0041\"]",
      // strings with bytes that must be refused
      "[\"\x01\"]", "[\"\t\"]", "{\"\x1f\":1}", "[\"\xc0\xaf\"]", "[\"\xe0\x80\xaf\"]", "[\"\xed\xa0\x80\"]",
      "[\"\xf4\x90\x80\x80\"]", "[\"\xf5\"]", "[\"\xc3\"]", "[\"\xe2\x82\"]", "[\"\x80\"]", "{\"\xff\":1}",
      // valid, in the shapes the route takes or declines
      "{}", "[]", " { } ", "[[],{}]", "{\"b\":1,\"a\":2}", "{\"a\":1,\"a\":2}", "{\"b\":{\"d\":1,\"c\":[2,1]},\"a\":0}",
      "{\"a\\u0062\":1,\"ab\":2}", "{\"\\\"\":1,\"!\":2}", "[\"\\u00e9\\ud83d\\ude80\\/\\u001f\"]",
      "[1e21,1E+2,-0,0.0]", "{\"b\":[-0,-0.0,-0e0,-0E+0],\"a\":-0 }",
      "[18446744073709551616,-9223372036854775809,123456789012345678901234567890]", "[true,false,null]",
      "\"scalar\"", "12", "true", "null", "[\"\x7f\xf0\x9f\x99\x82\"]", "{\"\xc3\xa9\":1,\"e\":2,\"\xe6\x95\xb0\":3}",
      "[ 1 , 2 ]\r\n", "{\"a\" : [ 1.5 , \"x\" ] }"};
  for_each_copy([&](ParserBase& parser, const char* copy) {
    for (const char* text : kTexts) expect_routes_agree(parser, text, copy);
  });
}

TEST(FastCanonical, NestingBeyondItsDepthIsLeftToTheGeneralRoute) {
  for_each_copy([](ParserBase& parser, const char* copy) {
    for (int depth : {1, 63, 64, 65, 126, 127, 128}) {
      const std::string text = std::string(depth, '[') + std::string(depth, ']');
      const bool taken = expect_routes_agree(parser, text, copy);
      EXPECT_EQ(taken, depth <= 64) << copy << ": depth " << depth;
    }
  });
}

TEST(FastCanonical, TakesEscapesAtEveryOffsetOfItsBlocks) {
  // Strings are read in blocks: an escape split between two blocks must
  // still be read as one, and the text taken, not declined.
  for_each_copy([](ParserBase& parser, const char* copy) {
    for (const char* escape : {"\\\"", "\\\\", "\\\\\\\"", "\\u00e9"}) {
      for (size_t n = 0; n < 200; ++n) {
        for (const char* after : {"", "x"}) {
          const std::string text = "{\"k\":\"" + std::string(n, 'a') + escape + after + "\",\"n\":1}";
          EXPECT_TRUE(expect_routes_agree(parser, text, copy)) << copy << ": " << text;
        }
      }
    }
  });
}

TEST(FastCanonical, TakesTheTypicalDataLine) {
  // The shape every purge and track meets: unsorted keys, spaces after the
  // separators, escapes, nested objects, arrays of numbers.
  const std::string line =
      "{\"text\": \"caf\\u00e9 and \\\"quoted\\\" \xe6\x95\xb0\xe6\x8d\xae\", \"id\": 42, \"meta\": {\"source\": "
      "\"https://example.org/1\", \"score\": 0.25, \"quality\": {\"flagged\": false, \"reviewer\": null}}, "
      "\"embedding\": [0.1, -3.5e-07, 1e+20], \"tags\": []}";
  for_each_copy([&](ParserBase& parser, const char* copy) {
    std::string fast;
    ASSERT_TRUE(parser.CanonicalizeFast(line, fast)) << copy;
    EXPECT_EQ(fast,
              "{\"embedding\":[0.1,-3.5e-7,1e20],\"id\":42,\"meta\":{\"quality\":{\"flagged\":false,\"reviewer\":"
              "null},\"score\":0.25,\"source\":\"https://example.org/1\"},\"tags\":[],\"text\":\"caf\xc3\xa9 and "
              "\\\"quoted\\\" \xe6\x95\xb0\xe6\x8d\xae\"}")
        << copy;
  });
}

}  // namespace
}  // namespace zr::json
