#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "registry/section.h"
#include "store/candidate_lines.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/jsonl.h"

namespace zr::registry {
namespace {

// Section lines are read back only by later stages, never by Python directly.
TEST(SectionRecord, ReadingRules) {
  json::Parser parser;
  auto read = [&](std::string_view line) { return parse_section_line(parser, line); };
  Section s{"h", "p", {"a1", "a1"}, {"c\"1"}, "MIT", "2024"};
  std::string line = section_line(s);
  line.pop_back();
  ASSERT_EQ(read(line), s);

  const std::string ok = R"("section_hash":"h","path":"p","authors":["a"],"contributors":[],"license":"L")";
  EXPECT_TRUE(read("{" + ok + R"(,"year":"2024","revoked":true,"revoked":false})"));  // the mark is no field
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

// The vectorised pre-filter must pass exactly the lines a plain per-line
// check passes, at every alignment and near the end of the text.
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
        for (size_t k = rng() % 90; k > 0; --k) {
          char c = alphabet[rng() % alphabet.size()];
          if (c == '\\' && rng() % 4 != 0) c = 'b';  // keep escape-free lines common
          if (rng() % 23 == 0) {
            text += needle;
          } else {
            text.push_back(c);
          }
        }
        if (l + 1 < lines || rng() % 2) text.push_back('\n');
      }
      std::vector<std::string_view> expected;
      store::for_each_line(text, [&](std::string_view line, size_t) {
        if (line.find(needle) != std::string_view::npos || line.find('\\') != std::string_view::npos) {
          expected.push_back(line);
        }
      });
      std::vector<std::string_view> got;
      store::CandidateLines candidates(text, value);
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

}  // namespace
}  // namespace zr::registry
