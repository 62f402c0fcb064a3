// Numbering by content: the diff trusts that two lines are equal exactly when
// their numbers are, so a fault here pairs the wrong lines without any other
// stage noticing.
#include "tracking/line_numbering.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zr::tracking {
namespace {

// Lines of every length class the hash treats apart (empty, under 4, under 8,
// up to 16, up to 48, longer), in pairs that differ in one middle byte only.
std::vector<std::string> line_pool() {
  std::vector<std::string> pool;
  for (size_t length : {0, 1, 3, 5, 8, 12, 16, 17, 40, 48, 49, 100, 250}) {
    std::string line(length, 'a');
    for (size_t i = 0; i < length; ++i) line[i] = static_cast<char>('a' + i % 26);
    pool.push_back(line);
    if (length > 0) {
      line[length / 2] = '#';
      pool.push_back(line);
    }
  }
  return pool;
}

std::vector<std::string> random_lines(std::mt19937& rng, const std::vector<std::string>& pool, size_t count) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i) lines.push_back(pool[rng() % pool.size()]);
  return lines;
}

// Both numbering widths agree, and each number is the position of the first
// line of that content in the old lines followed by the new ones.
template <typename LineList>
void expect_numbered_by_content(const LineList& old_lines, const LineList& new_lines) {
  const NumberedLines<uint32_t> narrow = number_lines<uint32_t>(old_lines, new_lines);
  const NumberedLines<uint64_t> wide = number_lines<uint64_t>(old_lines, new_lines);
  std::vector<std::string_view> all(old_lines.begin(), old_lines.end());
  all.insert(all.end(), new_lines.begin(), new_lines.end());
  std::vector<uint64_t> numbers(narrow.old_ids.begin(), narrow.old_ids.end());
  numbers.insert(numbers.end(), narrow.new_ids.begin(), narrow.new_ids.end());
  ASSERT_EQ(numbers.size(), all.size());
  bool shared = false;
  for (size_t p = 0; p < all.size(); ++p) {
    size_t first = 0;
    while (all[first] != all[p]) ++first;
    ASSERT_EQ(numbers[p], first) << "line " << p;
    shared = shared || (p >= old_lines.size() && first < old_lines.size());
  }
  EXPECT_EQ(narrow.shared, shared);
  EXPECT_EQ(wide.shared, shared);
  EXPECT_EQ(std::vector<uint64_t>(wide.old_ids.begin(), wide.old_ids.end()),
            std::vector<uint64_t>(narrow.old_ids.begin(), narrow.old_ids.end()));
  EXPECT_EQ(std::vector<uint64_t>(wide.new_ids.begin(), wide.new_ids.end()),
            std::vector<uint64_t>(narrow.new_ids.begin(), narrow.new_ids.end()));
}

TEST(LineNumberingTest, EqualLinesGetEqualNumbersForEitherLineList) {
  const std::vector<std::string> pool = line_pool();
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    const std::vector<std::string> a = random_lines(rng, pool, 1 + rng() % 40);
    std::vector<std::string> b = random_lines(rng, pool, 1 + rng() % 40);
    // Mostly copies of the old lines with a few edits, as real versions are:
    // this is the path where a new line is matched by guessing its old line.
    if (round % 2 == 0) {
      b = a;
      for (size_t e = rng() % 4; e > 0; --e) b[rng() % b.size()] = pool[rng() % pool.size()];
    }
    SCOPED_TRACE("round " + std::to_string(round));
    expect_numbered_by_content(a, b);
    expect_numbered_by_content(std::vector<std::string_view>(a.begin(), a.end()),
                               std::vector<std::string_view>(b.begin(), b.end()));
  }
}

TEST(LineNumberingTest, WithOneSideEmptyNumbersArePositions) {
  // Nothing can be compared across the sides, so equal lines need not share
  // a number: the numbering skips the table altogether.
  const std::vector<std::string> repeated = {"x", "x", "y"};
  const auto only_old = number_lines<uint32_t>(repeated, std::vector<std::string>{});
  EXPECT_EQ(only_old.old_ids, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_FALSE(only_old.shared);
  const auto only_new = number_lines<uint32_t>(std::vector<std::string>{}, repeated);
  EXPECT_EQ(only_new.new_ids, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_FALSE(only_new.shared);
}

}  // namespace
}  // namespace zr::tracking
