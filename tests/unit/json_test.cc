#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "json/parse.h"
#include "json/value.h"
#include "json/write.h"
#include "support/random_json.h"

namespace zr::json {
namespace {

Value parse_ok(std::string_view text) {
  Parser parser;
  base::Result<Value> r = parser.Parse(text);
  EXPECT_TRUE(r.ok()) << text << ": " << r.status().message();
  return r.ok() ? std::move(r).value() : Value();
}

bool parses(std::string_view text) {
  Parser parser;
  Value out;
  return parser.ParseInto(text, 0, out);
}

TEST(JsonNumbers, IntegersAreUnsignedOrNegativeAndEverythingElseFloat) {
  struct Case {
    const char* text;
    Kind kind;
  };
  for (Case c : {Case{"0", Kind::kUnsigned}, Case{"18446744073709551615", Kind::kUnsigned},
                 Case{"-1", Kind::kNegative}, Case{"-9223372036854775808", Kind::kNegative},
                 Case{"18446744073709551616", Kind::kFloat}, Case{"-9223372036854775809", Kind::kFloat},
                 Case{"123456789012345678901234567890", Kind::kFloat}, Case{"1.0", Kind::kFloat},
                 Case{"1e2", Kind::kFloat}, Case{"-0", Kind::kUnsigned}, Case{"-0.0", Kind::kFloat}}) {
    EXPECT_EQ(parse_ok(c.text).kind(), c.kind) << c.text;
  }
  EXPECT_EQ(parse_ok("18446744073709551615").as_unsigned(), UINT64_MAX);
  EXPECT_EQ(parse_ok("-9223372036854775808").as_negative(), INT64_MIN);
  EXPECT_EQ(parse_ok("18446744073709551616").as_float(), 18446744073709551616.0);
  EXPECT_EQ(parse_ok("[-123456789012345678901234567890 ]").as_array()[0].as_float(),
            -123456789012345678901234567890.0);
}

TEST(JsonNumbers, LongMantissasReadAsTheNearestFloat) {
  struct Case {
    const char* text;
    double value;
  };
  for (Case c : {Case{"0.1000000000000000055511151231257827", 0.1},
                 Case{"0.0055143972981506162251996e5", 551.4397298150616},
                 Case{"[0.71953640525943518999133e-15]", 7.195364052594352e-16},
                 Case{"3.14159265358979323846264338327950288", 3.141592653589793},
                 Case{"123456789012345678901.5", 1.2345678901234568e20}}) {
    Value v = parse_ok(c.text);
    const Value& n = v.is_array() ? v.as_array()[0] : v;
    ASSERT_EQ(n.kind(), Kind::kFloat) << c.text;
    EXPECT_EQ(n.as_float(), c.value) << c.text;
  }
}

// The integer "-0" is the integer 0 at every depth; with a fraction or an
// exponent it is the float -0.0.
TEST(JsonNumbers, MinusZeroIsAnIntegerUnlessSpelledAsAFloat) {
  const auto member = [](const Value& v) -> const Value& {
    return v.is_array() ? v.as_array()[0] : v.is_object() ? *v.find("a") : v;
  };
  for (const char* text : {"-0", " -0 ", "[-0]", "{\"a\":-0}", "[-0 ]", "{\"a\":-0\t}"}) {
    Value v = parse_ok(text);
    ASSERT_EQ(member(v).kind(), Kind::kUnsigned) << text;
    EXPECT_EQ(member(v).as_unsigned(), 0u) << text;
    EXPECT_EQ(to_compact(member(v)), "0");
  }
  for (const char* text : {"-0.0", "-0e0", "[-0E+0]", "{\"a\":-0.00}", "-0e-5", "[-0.0e10 ]"}) {
    Value v = parse_ok(text);
    ASSERT_EQ(member(v).kind(), Kind::kFloat) << text;
    EXPECT_TRUE(std::signbit(member(v).as_float())) << text;
    EXPECT_EQ(to_compact(member(v)), "-0.0");
  }
  // Text written straight from the spelling follows the same rule.
  Parser parser;
  std::string out;
  ASSERT_TRUE(parser.Canonicalize("[-0, -0.0,{\"a\":-0 },-0e0,-0]", 0, out));
  EXPECT_EQ(out, "[0,-0.0,{\"a\":0},-0.0,0]");
}

TEST(JsonNumbers, InvalidNumbersMakeTheTextInvalid) {
  for (const char* text : {"1e400", "-1e400", "[1e309]", "01", "-01", "00", "-00", "[01]", "{\"a\":012}",
                           "000000000000000000000001", "0123456789012345678901234", "1.", ".5", "+1", "-",
                           "1e", "1e+", "0x1", "NaN", "Infinity", "-Infinity", "1 2", "123456789012345678901234 x"}) {
    EXPECT_FALSE(parses(text)) << text;
  }
}

TEST(JsonStrings, InvalidUtf8ControlCharactersAndLoneSurrogatesAreInvalid) {
  for (std::string_view text :
       {std::string_view("\"\xff\""), std::string_view("\"\xc3\""), std::string_view("\"\xed\xa0\x80\""),
        std::string_view("{\"\xfe\":1}"), std::string_view("\"a\x01\""), std::string_view("\"\t\""),
        std::string_view("{\"\n\":1}"), std::string_view("\"\\ud800\""), std::string_view("\"\\udfff\""),
        std::string_view("\"\\ud800\\u0041\""), std::string_view("{\"\\udc00\":1}"), std::string_view("\"\\x\""),
        std::string_view("\"\0\"", 3)}) {
    EXPECT_FALSE(parses(text)) << text;
  }
  EXPECT_EQ(parse_ok("\"\\ud83d\\ude00\"").as_string(), "\xf0\x9f\x98\x80");
  EXPECT_EQ(parse_ok("\"\\u0000\"").as_string(), std::string(1, '\0'));
  EXPECT_EQ(parse_ok("\"\x7f\"").as_string(), "\x7f");
}

TEST(JsonText, OnlyWhitespaceMayFollowTheValue) {
  for (std::string_view text : {std::string_view("\"a\" x"), std::string_view("\"a\"\"b\""),
                                std::string_view("\"a\"]"), std::string_view("nullx"), std::string_view("null1"),
                                std::string_view("null\0", 5), std::string_view("true x"), std::string_view("[1]]"),
                                std::string_view("{}{}"), std::string_view("[1] 2"), std::string_view(""),
                                std::string_view("  ")}) {
    EXPECT_FALSE(parses(text)) << text;
  }
  for (const char* text : {" null ", "\t\"a\"\r\n", "true", "[ 1 , 2 ]\n", " {\"a\" : { } } "}) {
    EXPECT_TRUE(parses(text)) << text;
  }
}

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonText, NestingIsBoundedWithoutExhaustingTheStack) {
  EXPECT_TRUE(parses(nested(kMaxNesting)));
  EXPECT_FALSE(parses(nested(kMaxNesting + 1)));
  EXPECT_FALSE(parses(nested(1'000'000)));
  std::string objects;
  for (int i = 0; i < 200'000; ++i) objects += "{\"a\":";
  objects += "1" + std::string(200'000, '}');
  EXPECT_FALSE(parses(objects));
  Parser parser;
  std::string out;
  EXPECT_FALSE(parser.Canonicalize(objects, 0, out));
}

TEST(JsonText, ParseErrorsNameLineAndColumn) {
  Parser parser;
  EXPECT_EQ(parser.Parse("[1,\n NaN]").status().message(), "expected value at line 2 column 2");
  EXPECT_EQ(parser.Parse(nested(kMaxNesting + 1)).status().message(),
            "recursion limit exceeded at line 1 column " + std::to_string(kMaxNesting + 1));
  EXPECT_NE(parser.Parse("{\"a\" 1}").status().message().find("line 1 column"), std::string::npos);
}

TEST(JsonObjects, MembersAreSortedByKeyBytesAndTheLastRepeatWins) {
  Value v = parse_ok("{\"b\":1,\"\xc3\xa9\":2,\"a\":3,\"b\":4,\"\x7f\":5,\"b\":6}");
  ASSERT_TRUE(v.is_object());
  EXPECT_EQ(to_compact(v), "{\"a\":3,\"b\":6,\"\x7f\":5,\"\xc3\xa9\":2}");
  EXPECT_TRUE(v.key_repeated("b"));
  EXPECT_FALSE(v.key_repeated("a"));
  EXPECT_EQ(v.as_object().repeated_keys, std::vector<std::string>{"b"});
}

TEST(JsonObjects, RepeatsAreRecordedPerObject) {
  Value v = parse_ok("{\"outer\":{\"x\":1,\"x\":2},\"list\":[{\"y\":1,\"y\":1}],\"z\":0}");
  EXPECT_FALSE(v.key_repeated("x"));
  EXPECT_FALSE(v.key_repeated("outer"));
  EXPECT_TRUE(v.find("outer")->key_repeated("x"));
  EXPECT_TRUE(v.find("list")->as_array()[0].key_repeated("y"));
  // Keys that differ only after unescaping are the same key.
  Value w = parse_ok("{\"\\u0061\":1,\"a\":2}");
  EXPECT_TRUE(w.key_repeated("a"));
  EXPECT_EQ(to_compact(w), "{\"a\":2}");
}

TEST(JsonObjects, SetAndFindKeepByteOrder) {
  Value v = Value::MakeObject(make_object({{"b", Value::Unsigned(1)}, {"a", Value::Null()}}));
  v.set("c", Value::Bool(true));
  v.set("a", Value::String("x"));
  v.set("\xc3\xa9", Value::Integer(-2));
  EXPECT_EQ(to_compact(v), "{\"a\":\"x\",\"b\":1,\"c\":true,\"\xc3\xa9\":-2}");
  EXPECT_EQ(v.find("c")->as_bool(), true);
  EXPECT_EQ(v.find("d"), nullptr);
  EXPECT_EQ(Value::Unsigned(1).find("a"), nullptr);
}

TEST(JsonWriter, StringEscapes) {
  std::string out;
  append_string(out, std::string_view("\"\\/\b\t\n\f\r\x00\x01\x1f\x7f\xc3\xa9", 14));
  EXPECT_EQ(out, "\"\\\"\\\\/\\b\\t\\n\\f\\r\\u0000\\u0001\\u001f\x7f\xc3\xa9\"");
}

TEST(JsonWriter, NonFiniteFloatsAreNull) {
  EXPECT_EQ(to_compact(Value::Float(INFINITY)), "null");
  EXPECT_EQ(to_compact(Value::Float(-INFINITY)), "null");
  EXPECT_EQ(to_compact(Value::Float(NAN)), "null");
}

TEST(JsonParser, InPlaceAndCopiedParsingAgree) {
  // A line followed by more of the file is parsed in place; the same bytes
  // at the very end of the buffer are copied first.
  std::string file = "{\"b\":[1,2.5,\"x\"],\"a\":null}\n" + std::string(required_padding() + 8, '7');
  std::string_view line(file.data(), file.find('\n'));
  Parser parser;
  Value in_place, copied;
  ASSERT_TRUE(parser.ParseInto(line, file.size() - line.size(), in_place));
  ASSERT_TRUE(parser.ParseInto(std::string(line), 0, copied));
  EXPECT_EQ(in_place, copied);
  std::string a, b;
  ASSERT_TRUE(parser.Canonicalize(line, file.size() - line.size(), a));
  ASSERT_TRUE(parser.Canonicalize(std::string(line), 0, b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, "{\"a\":null,\"b\":[1,2.5,\"x\"]}");
}

TEST(JsonCanonicalize, FloatsAreWrittenInTheirShortestForm) {
  Parser parser;
  std::string out;
  struct Case {
    const char* text;
    const char* canonical;
  };
  for (Case c : {Case{"1.50", "1.5"}, Case{"0.000123", "0.000123"}, Case{"1.5E+3", "1500.0"},
                 Case{"-0.0e10", "-0.0"}, Case{"12.5e-7", "1.25e-6"}, Case{"1e16", "1e16"},
                 Case{"10.0e15", "1e16"}, Case{"0.00001000", "0.00001"}, Case{"100e-2", "1.0"},
                 Case{"123456789012345.6", "123456789012345.6"}, Case{"0.30000000000000004", "0.30000000000000004"},
                 Case{"0.1000000000000000055511151231257827", "0.1"}, Case{"1e-310", "1e-310"},
                 Case{"2.5e300", "2.5e300"}, Case{"[1.0, -2.50e-1]", "[1.0,-0.25]"}}) {
    ASSERT_TRUE(parser.Canonicalize(c.text, 0, out)) << c.text;
    EXPECT_EQ(out, c.canonical) << c.text;
  }
}

TEST(JsonCanonicalize, MatchesTheTreeWriterOnRandomTexts) {
  // Any value at the top, nested deeper than data lines, floats as writers
  // spell them, invalid spellings, and now and then a damaged byte.
  test::RandomJson generator(20240611, {.max_depth = 6, .any_top_value = true, .invalid_spellings = true,
                                        .written_floats = true});
  Parser tree_parser;
  Parser canonical_parser;  // one parser reused throughout, as the line hash does
  std::string canonical;
  int valid = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string text = generator.text();
    if (generator.pick(8) == 0) generator.damage(text);
    Value value;
    bool tree_ok = tree_parser.ParseInto(text, 0, value);
    bool canonical_ok = canonical_parser.Canonicalize(text, 0, canonical);
    ASSERT_EQ(tree_ok, canonical_ok) << text;
    if (!tree_ok) continue;
    ++valid;
    ASSERT_EQ(canonical, to_compact(value)) << text;
    // Canonical text is a fixed point.
    std::string again;
    ASSERT_TRUE(canonical_parser.Canonicalize(canonical, 0, again));
    ASSERT_EQ(again, canonical);
  }
  EXPECT_GT(valid, 2500);
}

}  // namespace
}  // namespace zr::json
