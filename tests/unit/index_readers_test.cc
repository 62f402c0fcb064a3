#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_layer.h"
#include "index/layer_scans.h"
#include "index/record_reader.h"
#include "store/flat_object.h"
#include "json/parse.h"
#include "tracking/document_record.h"

namespace zr::index {
namespace {

constexpr std::array<std::string_view, 3> kKeys = {"line_hash", "file", "sources"};

// The scanner may decline any line, but a line it accepts must be one the
// full parser accepts, with the same last value and repeat state per key.
// Returns whether the scanner accepted the line.
bool ExpectAgreesWithParser(std::string_view line) {
  std::array<store::FlatField, 3> fields;
  if (!store::scan_flat_object(line, kKeys, fields)) return false;
  json::Parser parser;
  base::Result<json::Value> parsed = parser.Parse(line);
  EXPECT_TRUE(parsed.ok()) << "accepted invalid JSON: " << line;
  if (!parsed.ok() || !parsed->is_object()) {
    ADD_FAILURE() << line;
    return true;
  }
  for (size_t i = 0; i < kKeys.size(); ++i) {
    const json::Value* member = parsed->find(kKeys[i]);
    const store::FlatField& field = fields[i];
    EXPECT_EQ(member == nullptr, field.kind == store::FlatKind::kAbsent) << line;
    if (member == nullptr) continue;
    EXPECT_EQ(parsed->key_repeated(kKeys[i]), field.count > 1) << line;
    if (field.kind == store::FlatKind::kString) {
      if (!member->is_string()) {
        ADD_FAILURE() << line;
        continue;
      }
      EXPECT_EQ(member->as_string(), field.text) << line;
    } else if (field.kind == store::FlatKind::kStringArray) {
      std::vector<std::string> items;
      store::for_each_flat_string(field.text, [&](std::string_view s) { items.emplace_back(s); });
      if (!member->is_array() || items.size() != member->as_array().size()) {
        ADD_FAILURE() << line;
        continue;
      }
      for (size_t k = 0; k < items.size(); ++k) EXPECT_EQ(member->as_array()[k].as_string(), items[k]) << line;
    } else {
      EXPECT_FALSE(member->is_string() || member->is_array()) << line;
    }
  }
  return true;
}

TEST(FlatObject, ReadsStoredLinesAndDeclinesWhatItCannotVouchFor) {
  std::array<store::FlatField, 3> f;
  const std::string stored =
      R"({"file":"d/é.jsonl","line_hash":"3fab","revoked":false,"source_type":"track","sources":["s1","s2"]})";
  ASSERT_TRUE(store::scan_flat_object(stored, kKeys, f));
  EXPECT_EQ(f[0].text, "3fab");
  EXPECT_EQ(f[1].text, "d/é.jsonl");
  EXPECT_EQ(f[2].kind, store::FlatKind::kStringArray);
  ASSERT_TRUE(store::scan_flat_object(R"( { "sources" : [ ] , "n":-0,"k":123456789012345678,"z":null} )", kKeys, f));
  EXPECT_EQ(f[2].text, " ");
  ASSERT_TRUE(store::scan_flat_object(R"({"file":"a","file":"b"})", kKeys, f));
  EXPECT_EQ(f[1].count, 2u);
  EXPECT_EQ(f[1].text, "b");

  // Escapes, nested objects, non-string array elements, floats, long
  // integers and top-level arrays go to the full parser; so does anything
  // that is not JSON (bad numbers, invalid UTF-8, raw control characters,
  // trailing text, truncation).
  for (std::string_view declined : {
           R"({"file":"a\"b"})", R"({"file":{"x":1}})", R"({"sources":["a",1]})", R"({"n":1.5})", R"({"n":1e3})",
           R"({"n":1234567890123456789})", R"(["h","f",[]])", R"({"n":01})", R"({"n":-})", "{\"file\":\"\xff\"}",
           "{\"file\":\"a\tb\"}", R"({"file":"a"} x)", R"({"file":"a",})", R"({"file":tru})", R"({"file":"a")", "",
       }) {
    EXPECT_FALSE(store::scan_flat_object(declined, kKeys, f)) << declined;
  }
}

TEST(FlatObject, RandomLinesNeverDisagreeWithTheParser) {
  const std::vector<std::string> seeds = {
      R"({"file":"f","line_hash":"3f","sources":["a","b"]})",
      R"({"line_hash":"x","line_hash":"y","sources":[],"file":"é"})",
      R"({"sources":["s"],"token_count":12,"revoked":true,"tokenizer":"t"})",
  };
  const std::string alphabet =
      "{}[]\":, \t\r-019.etruefalsnl\\"
      "\xc3\xa9\xff\x01"
      "abfilesourc_h";
  std::mt19937 rng(20240601);
  int accepted = 0;
  for (int round = 0; round < 40000; ++round) {
    std::string line = seeds[rng() % seeds.size()];
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < edits; ++e) {
      const size_t pos = rng() % (line.size() + 1);
      const char c = alphabet[rng() % alphabet.size()];
      switch (rng() % 3) {
        case 0:
          line.insert(line.begin() + static_cast<std::ptrdiff_t>(pos), c);
          break;
        case 1:
          if (pos < line.size()) line.erase(pos, 1);
          break;
        default:
          if (pos < line.size()) line[pos] = c;
          break;
      }
    }
    accepted += ExpectAgreesWithParser(line);
    if (HasFailure()) return;
  }
  EXPECT_GT(accepted, 5000);  // the fast route was really exercised
}

// The scan filter reads records by the typed rules whether a line takes the
// flat route or the parser's.
TEST(DocumentFilter, MatchesTheTypedReader) {
  const base::StringSet sections = {"s1"};
  const std::vector<std::string> lines = {
      R"({"file":"f","line_hash":"h1","sources":["s0","s1"]})",
      R"({"file":"f\n","line_hash":"h2","sources":["s1"]})",           // escape: parsed
      R"(["h3","f",["s1"]])",                                          // array form
      R"({"file":"f","line_hash":"h4","sources":["s1"],"file":"g"})",  // repeated own member
      R"({"file":"f","line_hash":"h5","sources":["s1",2]})",           // not all strings
      R"({"file":"f","line_hash":"h6","sources":["s2"]})",
      R"({"file":3,"line_hash":"h7","sources":["s1"]})",
      R"({"line_hash":"h8","sources":["s1"],"extra":{"line_hash":1}})",
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  std::vector<tracking::DocumentRecord> got;
  DocumentFilter(sections).Collect(text, got);

  json::Parser parser;
  std::vector<tracking::DocumentRecord> want;
  for (const std::string& line : lines) {
    auto record = tracking::parse_document_line(parser, line);
    if (!record) continue;
    for (const std::string& s : record->sources) {
      if (sections.contains(s)) {
        want.push_back(*record);
        break;
      }
    }
  }
  EXPECT_EQ(got, want);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].file, "f\n");
}

// The layer is only ever written by the build, but may be edited by hand.
TEST(IndexLayer, ShardRefSpellings) {
  EXPECT_EQ(parse_shard_ref("3f"), 0x3f);
  EXPECT_EQ(parse_shard_ref("+A"), 0x0a);
  EXPECT_EQ(parse_shard_ref("+3F"), 0x3f);
  for (std::string_view bad : {"", "+", "++3", "3fa", "g", " 3", "-1"}) EXPECT_FALSE(parse_shard_ref(bad)) << bad;
}

}  // namespace
}  // namespace zr::index
