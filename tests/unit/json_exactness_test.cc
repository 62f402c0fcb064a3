// A JSON text is read exactly: one complete value with only whitespace
// around it, every number from its own digits, and the same value whether it
// stands alone, padded, or deep inside a container.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "store/flat_object.h"
#include "json/parse.h"
#include "json/write.h"
#include "token_index/entry_view.h"

namespace zr::json {
namespace {

std::optional<Value> parse(std::string_view text) {
  Parser parser;
  Value out;
  if (!parser.ParseInto(text, 0, out)) return std::nullopt;
  return out;
}

// The correctly rounded value of a decimal text (the C library's reader is).
double nearest(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string digits(size_t n, char first = '1', char rest = '0') { return first + std::string(n - 1, rest); }

// Texts whose value must not depend on where they stand. Some are invalid:
// they must be invalid everywhere.
std::vector<std::string> exactness_texts() {
  std::vector<std::string> texts = {
      "0", "-0", "7", "-7", "18446744073709551615", "18446744073709551616", "-9223372036854775808",
      "-9223372036854775809", "10000000000000000000", "100000000000000000000", "123456789012345678901",
      "-123456789012345678901", digits(22), digits(40, '9', '9'), digits(309), digits(310), "-" + digits(310),
      "1.5", "-0.0", "-0e0", "-0E+0", "5E00000000000000000000", "0E00080878087580875808", "500000000E-0000000000000000000207411242",
      "1e-400", "-1e-400", "1e400", "-1e400", "1E+0000000000000000000000000308", "1.8e308", "2.5e-324",
      "2.4703282292062328e-324", "2.4703282292062327e-324", "4.9e-324", "0.1000000000000000055511151231257827",
      "0." + std::string(400, '0') + "1e400", std::string("1") + std::string(400, '0') + "e-400",
      "0.000001e-99999999999999999999999", "0.0001e99999999999999999999999", "0e99999999999999999999999",
      "1." + std::string(1081, '1'), "1." + std::string(1082, '1'), "-1." + std::string(5000, '3') + "e-5",
      "true", "false", "null", "\"a\\u00e9\\n\"", "01", "-", "1.", ".5", "1e", "+1", "false#", "true#", "null#",
      "nul", "truee", "1#", "1.5x", "0x10", "NaN", "-Infinity",
  };
  return texts;
}

std::string compact_or_invalid(const std::optional<Value>& v) { return v ? to_compact(*v) : "<invalid>"; }

TEST(JsonExactness, AValueReadsTheSameWhereverItStands) {
  Parser canonical;
  for (const std::string& text : exactness_texts()) {
    const std::optional<Value> bare = parse(text);
    const std::string expected = compact_or_invalid(bare);
    for (const std::string pad : {"", " ", "   ", "\t", "\r\n", " \t\r\n "}) {
      EXPECT_EQ(compact_or_invalid(parse(pad + text + pad)), expected) << "[" << pad << "]" << text;
      EXPECT_EQ(compact_or_invalid(parse(text + pad)), expected) << text << "[" << pad << "]";
      std::string out;
      bool ok = canonical.Canonicalize(pad + text + pad, 0, out);
      EXPECT_EQ(ok ? out : "<invalid>", expected) << text;
    }
    const std::optional<Value> in_array = parse("[" + text + "]");
    EXPECT_EQ(compact_or_invalid(in_array), bare ? "[" + expected + "]" : "<invalid>") << text;
    const std::optional<Value> in_object = parse("{\"a\" : [ {\"b\":" + text + "  } ] }");
    EXPECT_EQ(compact_or_invalid(in_object), bare ? "{\"a\":[{\"b\":" + expected + "}]}" : "<invalid>") << text;
  }
}

TEST(JsonExactness, IntegersBeyond64BitsAreTheFloatNearestToTheirDigits) {
  for (const std::string& text :
       {std::string("100000000000000000000"), std::string("123456789012345678901"), std::string("-9223372036854775809"),
        std::string("18446744073709551617"), digits(25, '9', '9'), "-" + digits(100, '4', '7'), digits(309, '1', '7'),
        // Halfway between two floats: rounds to even, which a reader of the
        // first 19 digits or of a truncated copy gets wrong.
        std::string("9007199254740993000"), std::string("90071992547409930000001")}) {
    const std::optional<Value> v = parse(text);
    ASSERT_TRUE(v) << text;
    if (v->kind() == Kind::kUnsigned) {
      EXPECT_EQ(static_cast<double>(v->as_unsigned()), nearest(text));
      continue;
    }
    ASSERT_EQ(v->kind(), Kind::kFloat) << text;
    EXPECT_EQ(v->as_float(), nearest(text)) << text;
  }
  EXPECT_EQ(to_compact(*parse("100000000000000000000")), "1e20");
  EXPECT_NE(to_compact(*parse("100000000000000000000")), to_compact(*parse("10000000000000000000")));
  EXPECT_FALSE(parse(digits(310)));  // 1e309 overflows a float
  EXPECT_FALSE(parse("-" + digits(400, '9', '9')));
}

TEST(JsonExactness, ExponentsOfAnyLengthAndUnderflowAreValid) {
  struct Case {
    std::string text;
    double value;
  };
  for (const Case& c : {Case{"[5E00000000000000000000]", 5.0}, Case{"0E00080878087580875808", 0.0},
                        Case{"500000000E-0000000000000000000207411242", 0.0}, Case{"-1e-400", -0.0},
                        Case{"1E+0000000000000000000000002", 100.0}, Case{"2e-0000000000000000000000000324", 0.0},
                        Case{"0." + std::string(400, '0') + "1e400", 0.1},
                        Case{"1" + std::string(400, '0') + "e-400", 1.0}, Case{"-123e-99999999999999999999999", -0.0},
                        Case{"4.9406564584124654e-324", 5e-324}, Case{"1.7976931348623158e308", 1.7976931348623157e308}}) {
    std::optional<Value> v = parse(c.text);
    ASSERT_TRUE(v) << c.text;
    const Value& n = v->is_array() ? v->as_array()[0] : *v;
    ASSERT_EQ(n.kind(), Kind::kFloat) << c.text;
    EXPECT_EQ(n.as_float(), c.value) << c.text;
    EXPECT_EQ(std::signbit(n.as_float()), std::signbit(c.value)) << c.text;
  }
  // Only a magnitude beyond the largest float makes a number invalid.
  for (const char* text : {"1e309", "1.7976931348623159e308", "0.0001e99999999999999999999999", "[1E+00000000000000000000400]",
                           "{\"a\":-1e0000000000000000000000400}"}) {
    EXPECT_FALSE(parse(text)) << text;
  }
}

TEST(JsonExactness, LiteralsAreExactWordsFollowedOnlyByWhitespace) {
  for (const char* text : {"true   ", "false  ", "null    ", "\ttrue\r\n", "[true ,false\t,null\n]"}) {
    EXPECT_TRUE(parse(text)) << text;
  }
  EXPECT_EQ(to_compact(*parse("false  ")), "false");
  for (const char* text : {"false#", "true#", "null#", "[false#]", "{\"a\":true#}", "truefalse", "nul", "tru e",
                           "True", "nulls", "false\v", "true\f"}) {
    EXPECT_FALSE(parse(text)) << text;
  }
}

TEST(JsonExactness, LongTopLevelFloatsAreReadWhole) {
  for (size_t length : {1081u, 1082u, 1083u, 1084u, 1100u, 4096u, 100000u}) {
    // 0.333...3 with the last digit changed: a reader that drops the last
    // byte reads another float for some lengths, and every reader that
    // stops early reads 0.3333333333333333 (a 1 at the end keeps it there).
    std::string text = "0." + std::string(length - 2, '3');
    text.back() = '9';
    const std::optional<Value> v = parse(text);
    ASSERT_TRUE(v) << length;
    EXPECT_EQ(v->as_float(), nearest(text)) << length;
    EXPECT_EQ(compact_or_invalid(parse(text + "  ")), to_compact(*v)) << length;
    EXPECT_EQ(compact_or_invalid(parse("[" + text + "]")), "[" + to_compact(*v) + "]") << length;
  }
  // The rounding boundary sits far down the digits: only the whole text
  // tells which way it goes.
  const std::string halfway = "9007199254740993." + std::string(1200, '0');  // 2^53 + 1, a tie
  const std::string above = halfway + "1";
  EXPECT_EQ(parse(halfway)->as_float(), 9007199254740992.0);
  EXPECT_EQ(parse(above)->as_float(), 9007199254740994.0);
}

// Number spellings of every shape, compared between the writer's quick path
// (floats written from their own digits) and the value read by the tree.
TEST(JsonExactness, QuickFloatWritingAgreesWithTheReadValue) {
  std::mt19937 rng(20261207);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  Parser tree, canonical;
  int valid = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text = pick(4) == 0 ? "-" : "";
    const uint32_t integer_digits = pick(5) == 0 ? 0 : 1 + pick(pick(3) == 0 ? 30 : 6);
    text += integer_digits == 0 ? "0" : std::string(1, static_cast<char>('1' + pick(9)));
    for (uint32_t d = 1; d < integer_digits; ++d) text += static_cast<char>('0' + pick(10));
    if (pick(3) != 0) {
      text += '.';
      const uint32_t zeros = pick(4) == 0 ? pick(330) : pick(3);
      text += std::string(zeros, '0');
      for (uint32_t d = 0, n = 1 + pick(20); d < n; ++d) text += static_cast<char>('0' + pick(10));
    }
    if (pick(2) == 0) {
      text += pick(2) ? 'e' : 'E';
      if (uint32_t s = pick(3); s > 0) text += s == 1 ? '+' : '-';
      text += std::string(pick(4) == 0 ? pick(25) : 0, '0');
      text += std::to_string(pick(5) == 0 ? pick(400) : pick(30));
    }
    const std::string padded = std::string(pick(2), ' ') + text + std::string(pick(3), '\t');
    Value value;
    std::string out;
    const bool tree_ok = tree.ParseInto(padded, 0, value);
    ASSERT_EQ(canonical.Canonicalize(padded, 0, out), tree_ok) << text;
    const double expected = nearest(text);
    ASSERT_EQ(tree_ok, std::isfinite(expected)) << text;
    if (!tree_ok) continue;
    ++valid;
    ASSERT_EQ(out, to_compact(value)) << text;
    if (value.kind() == Kind::kFloat) {
      ASSERT_EQ(value.as_float(), expected) << text;
      ASSERT_EQ(std::signbit(value.as_float()), std::signbit(expected)) << text;
    }
  }
  EXPECT_GT(valid, 15000);
}

}  // namespace
}  // namespace zr::json

namespace zr {
namespace {

// The quick readers that skip the parser for the plain forms must decline
// numbers and literals they cannot vouch for, never read them differently.
TEST(JsonExactness, QuickRecordReadersAgreeWithTheParserOnNumbersAndLiterals) {
  const std::vector<std::string> members = {
      "1", "-0", "123456789012345678", "1234567890123456789", "18446744073709551615", "18446744073709551616",
      "100000000000000000000", "5E00000000000000000000", "1e0000000000000000000001", "1e400", "true   ",
      "false\t", "false#", "null ", "nullx", "01"};
  json::Parser parser;
  for (const std::string& member : members) {
    // A document-index line with one more member, for the flat scanner.
    const std::string doc = "{\"file\":\"f\",\"line_hash\":\"3f\",\"sources\":[\"s\"],\"n\":" + member + "}";
    std::array<store::FlatField, 3> fields;
    constexpr std::array<std::string_view, 3> kKeys = {"line_hash", "file", "sources"};
    const bool parsed = parser.Parse(doc).ok();
    if (store::scan_flat_object(doc, kKeys, fields)) {
      EXPECT_TRUE(parsed) << doc;
    }

    // An entry line whose count or mark is the member, for the entry reader.
    for (const std::string& entry :
         {"{\"token_count\":" + member + ",\"sources\":[],\"tokenizer\":\"tk\",\"revoked\":false}",
          "{\"token_count\":1,\"sources\":[],\"tokenizer\":\"tk\",\"revoked\":" + member + "}"}) {
      std::optional<token_index::TokenIndexEntry> full = token_index::parse_entry_line(parser, entry, 0);
      EXPECT_EQ(token_index::read_entry_line(parser, entry, 0), full) << entry;
    }
  }
  // The full reader takes what the quick ones decline.
  EXPECT_TRUE(parser.Parse("{\"file\":\"f\",\"n\":5E00000000000000000000}").ok());
  std::optional<token_index::TokenIndexEntry> spaced = token_index::parse_entry_line(
      parser, "{\"token_count\":18446744073709551615,\"sources\":[],\"tokenizer\":\"tk\",\"revoked\":true   }", 0);
  ASSERT_TRUE(spaced);
  EXPECT_EQ(spaced->token_count, UINT64_MAX);
  EXPECT_TRUE(spaced->revoked);
}

}  // namespace
}  // namespace zr
