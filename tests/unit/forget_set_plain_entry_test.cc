// The quick reader of compact entry lines must never disagree with the full
// reader: it either reads a line exactly as the full reader would or leaves
// it to it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "token_index/entry_view.h"

namespace zr::token_index {
namespace {

std::optional<TokenIndexEntry> full(std::string_view line) {
  json::Parser parser;
  return parse_entry_line(parser, line);
}

bool quick(std::string_view line) {
  TokenIndexEntry entry;
  return read_plain_entry(line, entry) == FastRead::kEntry;
}

TEST(PlainEntryReader, ReadsTheFormsThisSystemWrites) {
  TokenIndexEntry entry{18446744073ULL, {"a", "b"}, "tk", true};
  for (std::string line : {entry_line(entry), entry_line_sorted(entry)}) {
    line.pop_back();
    TokenIndexEntry read;
    ASSERT_EQ(read_plain_entry(line, read), FastRead::kEntry) << line;
    EXPECT_EQ(read, entry);
  }
  EXPECT_TRUE(quick(R"({"token_count":0,"sources":[],"tokenizer":"","revoked":false})"));
  EXPECT_TRUE(quick(R"({"revoked":false,"tokenizer":"t","sources":["x"],"token_count":9999999999999999999})"));
}

TEST(PlainEntryReader, AgreesWithTheFullReaderOnEveryLine) {
  const std::vector<std::string> lines = {
      R"({"token_count":1,"sources":["a"],"tokenizer":"tk","revoked":false})",
      R"({"token_count":18446744073709551615,"sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":18446744073709551616,"sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":01,"sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":-1,"sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":1.0,"sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":1e2,"sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":"1","sources":[],"tokenizer":"tk","revoked":true})",
      R"({"token_count":1,"sources":["a\"b"],"tokenizer":"tk","revoked":true})",
      R"({"token_count":1,"sources":["\u00e9"],"tokenizer":"tk","revoked":true})",
      "{\"token_count\":1,\"sources\":[\"\xc3\xa9\"],\"tokenizer\":\"tk\",\"revoked\":true}",
      "{\"token_count\":1,\"sources\":[\"\xc3\"],\"tokenizer\":\"tk\",\"revoked\":true}",
      "{\"token_count\":1,\"sources\":[\"a\tb\"],\"tokenizer\":\"tk\",\"revoked\":true}",
      R"({"token_count":1,"sources":[1],"tokenizer":"tk","revoked":true})",
      R"({"token_count":1,"sources":"a","tokenizer":"tk","revoked":true})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":null})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":tru})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":truex})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk"})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":true,"revoked":false})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","token_count":2,"revoked":false})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":false,"extra":{"revoked":true}})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":false,})",
      R"({"token_count":1,"sources":["a",],"tokenizer":"tk","revoked":false})",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":false}x)",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":false}})",
      R"( {"token_count" : 1, "sources" : [ "a" ], "tokenizer" : "tk", "revoked" : false } )",
      "{\"token_count\":1,\"sources\":[],\"tokenizer\":\"tk\",\"revoked\":false}\r",
      R"([1,["a"],"tk",false])",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked":false)",
      R"({"token_count":1,"sources":[],"tokenizer":"tk","revoked)",
      "",
  };
  json::Parser parser;
  for (const std::string& line : lines) {
    std::optional<TokenIndexEntry> expected = full(line);
    EXPECT_EQ(read_entry_line(parser, line, 0), expected) << line;
    TokenIndexEntry entry;
    if (read_plain_entry(line, entry) == FastRead::kEntry) {
      ASSERT_TRUE(expected.has_value()) << line;
      EXPECT_EQ(entry, *expected) << line;
    }
  }
}

}  // namespace
}  // namespace zr::token_index
