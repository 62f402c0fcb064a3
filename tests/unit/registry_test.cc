#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "registry/author.h"
#include "registry/author_registry.h"
#include "registry/candidate_lines.h"
#include "registry/section.h"
#include "store/json_parse.h"
#include "store/json_write.h"
#include "store/jsonl.h"

namespace zr::registry {
namespace {

// Expected hashes come from an independent SHA-256 (Python's hashlib) over
// the texts in the comments.
TEST(AuthorRecord, IdAndStoredLine) {
  // {"email":"x","name":"Ann"}
  const std::string id = "d65b8f0939a1752b6c3f2df21461abd637649f2889b25347135cb47619dce103";
  EXPECT_EQ(author_id("Ann", "x"), id);
  EXPECT_NE(author_id("ann", "x"), id);
  EXPECT_EQ(author_line(Author{id, "Ann", "x", false}),
            "{\"id\":\"" + id + "\",\"name\":\"Ann\",\"email\":\"x\",\"revoked\":false}\n");
  EXPECT_EQ(author_json(Author{"i", "a\"b\\c\n", "\x01\xc3\xa9", true}),
            "{\"id\":\"i\",\"name\":\"a\\\"b\\\\c\\n\",\"email\":\"\\u0001\xc3\xa9\",\"revoked\":true}");
}

TEST(AuthorRecord, ReadingRules) {
  json::Parser parser;
  auto read = [&](std::string_view line) { return parse_author_line(parser, line); };
  auto ann = read(R"({"id":"i","name":"Ann","email":"x"})");
  ASSERT_TRUE(ann);
  EXPECT_EQ(*ann, (Author{"i", "Ann", "x", false}));
  auto revoked = read(R"({"extra":[1],"revoked":true,"email":"x","name":"Ann","id":"i","extra":2})");
  ASSERT_TRUE(revoked);  // member order and repeats of other members do not matter
  EXPECT_TRUE(revoked->revoked);
  EXPECT_TRUE(read(R"({"id":"i","name":"A\u006en","email":"x"})"));

  for (std::string_view bad : {
           R"({"id":"i","name":"Ann","name":"Bob","email":"x"})",
           R"({"id":"i","name":"Ann","email":"x","revoked":false,"revoked":false})",
           R"({"id":"i","name":"Ann"})",
           R"({"name":"Ann","email":"x"})",
           R"({"id":"i","name":7,"email":"x"})",
           R"({"id":null,"name":"Ann","email":"x"})",
           R"({"id":"i","name":"Ann","email":"x","revoked":null})",
           R"({"id":"i","name":"Ann","email":"x","revoked":"true"})",
           R"({"id":"i","name":"Ann","email":"x","revoked":1})",
           R"(["i","Ann","x",false])",
           R"("Ann")",
           R"({"id":"i","name":"Ann","email":"x"} trailing)",
       }) {
    EXPECT_FALSE(read(bad)) << bad;
  }
}

TEST(SectionRecord, HashAndStoredLine) {
  // {"authors":["a1"],"contributors":[],"license":"MIT","path":"p","year":"2024"}
  const std::string hash = "dda955ab97cf37b634ccd9cfdc6e7896b5a32027a205ac4cc4e726503d7e24d3";
  EXPECT_EQ(section_hash_of("p", {"a1"}, {}, "MIT", "2024"), hash);
  EXPECT_NE(section_hash_of("p", {"a1", "a2"}, {}, "MIT", "2024"), section_hash_of("p", {"a2", "a1"}, {}, "MIT", "2024"));
  Section s{hash, "p", {"a1", "a1"}, {"c\"1"}, "MIT", "2024"};
  EXPECT_EQ(section_line(s), "{\"section_hash\":\"" + hash +
                                 "\",\"path\":\"p\",\"authors\":[\"a1\",\"a1\"],\"contributors\":[\"c\\\"1\"],"
                                 "\"license\":\"MIT\",\"year\":\"2024\"}\n");
  json::Parser parser;
  std::string line = section_line(s);
  line.pop_back();
  auto back = parse_section_line(parser, line);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, s);
}

TEST(SectionRecord, ReadingRules) {
  json::Parser parser;
  auto read = [&](std::string_view line) { return parse_section_line(parser, line); };
  const std::string ok = R"("section_hash":"h","path":"p","authors":["a"],"contributors":[],"license":"L")";
  EXPECT_TRUE(read("{" + ok + R"(,"year":"2024"})"));
  EXPECT_TRUE(read("{" + ok + R"(,"year":"2024","revoked":true,"revoked":false})"));  // the mark is not a field
  for (const std::string& bad : std::vector<std::string>{
           "{" + ok + "}",
           "{" + ok + R"(,"year":2024})",
           "{" + ok + R"(,"year":"2024","path":"q"})",
           R"({"section_hash":"h","path":"p","authors":"a","contributors":[],"license":"L","year":"y"})",
           R"({"section_hash":"h","path":"p","authors":[1],"contributors":[],"license":"L","year":"y"})",
           R"({"section_hash":"h","path":"p","authors":[],"contributors":[null],"license":"L","year":"y"})",
           R"({"section_hash":1,"path":"p","authors":[],"contributors":[],"license":"L","year":"y"})",
           R"(["h","p",[],[],"L","y"])",
       }) {
    EXPECT_FALSE(read(bad)) << bad;
  }
}

// The vectorised pre-filter must pass every line a plain per-line check
// passes (and no other), at every alignment and near the end of the text.
TEST(CandidateLines, AgreesWithAPlainLineByLineCheck) {
  std::mt19937 rng(7);
  const std::vector<std::string> values = {"", "A", "Ann", "Author 12345", "x\"y", std::string(40, 'q'), "\xc3\xa9t\xc3\xa9"};
  const std::string alphabet = "aAnN\"q\\ {}:,\r12345\xc3\xa9";
  for (const std::string& value : values) {
    std::string needle;
    json::append_string(needle, value);
    for (int round = 0; round < 300; ++round) {
      std::string text;
      size_t lines = rng() % 6;
      for (size_t l = 0; l < lines; ++l) {
        size_t len = rng() % 90;
        for (size_t k = 0; k < len; ++k) {
          if (rng() % 23 == 0) {
            text += needle;
          } else {
            char c = alphabet[rng() % alphabet.size()];
            if (c == '\\' && rng() % 4 != 0) c = 'b';
            text.push_back(c);
          }
        }
        if (l + 1 < lines || rng() % 2) text.push_back('\n');
      }
      std::vector<std::string_view> expected;
      for_each_line(text, [&](std::string_view line, size_t) {
        if (line.find(needle) != std::string_view::npos || line.find('\\') != std::string_view::npos) {
          expected.push_back(line);
        }
      });
      std::vector<std::string_view> got;
      CandidateLines candidates(text, value);
      std::string_view line;
      size_t after = 0;
      while (candidates.Next(line, after)) {
        ASSERT_EQ(after, text.size() - static_cast<size_t>(line.data() + line.size() - text.data()));
        got.push_back(line);
      }
      ASSERT_EQ(got, expected) << "value '" << value << "' text '" << text << "'";
    }
  }
}

TEST(AuthorReading, PreFilterKeepsEscapedSpellingsAndSkipsOthers) {
  // A writer other than ours may escape any character; such a line still
  // names Ann and must be found.
  const std::string text =
      "{\"id\":\"1\",\"name\":\"Ann\",\"email\":\"a\"}\r\n"
      "\n"
      "{\"id\":\"2\",\"name\":\"\\u0041nn\",\"email\":\"b\",\"revoked\":true}\n"
      "{\"id\":\"3\",\"name\":\"Anna\",\"email\":\"Ann\"}\n"
      "{\"id\":\"4\",\"name\":\"Ann\",\"name\":\"Ann\",\"email\":\"c\"}\n"
      "{\"id\":\"5\", \"name\" : \"Ann\" , \"email\":\"d\"}";
  json::Parser parser;
  std::vector<Author> found;
  read_matching_authors(text, AuthorFilter{"Ann", std::nullopt}, parser, found);
  std::vector<std::string> ids;
  for (const Author& a : found) ids.push_back(a.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "5"}));
  EXPECT_TRUE(found[1].revoked);

  found.clear();
  read_matching_authors(text, AuthorFilter{std::nullopt, "Ann"}, parser, found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id, "3");

  found.clear();
  read_matching_authors(text, AuthorFilter{}, parser, found);
  EXPECT_EQ(found.size(), 4u);
}

}  // namespace
}  // namespace zr::registry
