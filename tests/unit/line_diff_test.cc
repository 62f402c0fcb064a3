#include "tracking/line_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zr::tracking {
namespace {

using Lines = std::vector<std::string_view>;

DiffOpcode equal(size_t i1, size_t i2, size_t j1, size_t j2) { return {DiffTag::kEqual, i1, i2, j1, j2}; }
DiffOpcode del(size_t i1, size_t i2, size_t j1, size_t j2) { return {DiffTag::kDelete, i1, i2, j1, j2}; }
DiffOpcode ins(size_t i1, size_t i2, size_t j1, size_t j2) { return {DiffTag::kInsert, i1, i2, j1, j2}; }
DiffOpcode rep(size_t i1, size_t i2, size_t j1, size_t j2) { return {DiffTag::kReplace, i1, i2, j1, j2}; }

std::string show(const std::vector<DiffOpcode>& ops) {
  std::string out;
  for (const auto& op : ops) {
    out.append("(").append(diff_tag_name(op.tag));
    for (size_t v : {op.i1, op.i2, op.j1, op.j2}) out.append(" ").append(std::to_string(v));
    out.append(") ");
  }
  return out;
}

void expect_diff(const Lines& a, const Lines& b, const std::vector<DiffOpcode>& expected) {
  const auto got = blame_diff(a, b);
  EXPECT_EQ(got, expected) << "got " << show(got) << "\nwant " << show(expected);
}

TEST(LineDiffTest, WorkedExamples) {
  expect_diff({"a", "b", "c"}, {"a", "x", "c"}, {equal(0, 1, 0, 1), rep(1, 2, 1, 2), equal(2, 3, 2, 3)});
  expect_diff({"x", "a", "b", "y"}, {"x", "y"}, {equal(0, 1, 0, 1), del(1, 3, 1, 1), equal(3, 4, 1, 2)});
  // The inserted line stands after the first "a", not before it.
  expect_diff({"a", "b"}, {"a", "a", "b"}, {equal(0, 1, 0, 1), ins(1, 1, 1, 2), equal(1, 2, 2, 3)});
  expect_diff({"a", "b", "c", "d"}, {"a", "c", "b", "d"},
              {equal(0, 1, 0, 1), ins(1, 1, 1, 2), equal(1, 2, 2, 3), del(2, 3, 3, 3), equal(3, 4, 3, 4)});
  // A deletion and an insertion trade places without re-basing: the tuples
  // do not tile the lists, yet each one pairs its own lines correctly.
  expect_diff({"a", "b"}, {"b", "b"}, {del(0, 1, 1, 1), equal(1, 2, 0, 1), ins(1, 1, 1, 2)});
  // The inserted "a" slides up over the unchanged "a" before it and joins
  // the inserted "b"; the deletion stays where the search put it.
  expect_diff({"a", "b"}, {"b", "a", "a"}, {ins(0, 0, 0, 2), equal(0, 1, 2, 3), del(1, 2, 2, 2)});
}

TEST(LineDiffTest, EmptyAndIdenticalInputs) {
  expect_diff({}, {}, {});
  expect_diff({}, {"a", "b"}, {ins(0, 0, 0, 2)});
  expect_diff({"a", "b"}, {}, {del(0, 2, 0, 0)});
  expect_diff({"a", "b", "a"}, {"a", "b", "a"}, {equal(0, 3, 0, 3)});
}

TEST(LineDiffTest, LinesAreComparedByExactBytes) {
  expect_diff({"a", "b "}, {"a", "b"}, {equal(0, 1, 0, 1), rep(1, 2, 1, 2)});
  expect_diff({"Ab"}, {"ab"}, {rep(0, 1, 0, 1)});
  expect_diff({"", "x"}, {"x"}, {del(0, 1, 0, 0), equal(1, 2, 0, 1)});
}

// Length of a longest common subsequence, by the textbook table (small inputs).
size_t lcs_length(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      t[i][j] = a[i - 1] == b[j - 1] ? t[i - 1][j - 1] + 1 : std::max(t[i - 1][j], t[i][j - 1]);
    }
  }
  return t[a.size()][b.size()];
}

// Checks what every result must satisfy: shapes agree with the tag, equal
// tuples pair equal lines, both lists are fully accounted for, equal runs are
// merged, and the number of changed lines is minimal.
void check_properties(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  const Lines av(a.begin(), a.end());
  const Lines bv(b.begin(), b.end());
  const auto ops = blame_diff(av, bv);
  size_t old_total = 0;
  size_t new_total = 0;
  size_t changed = 0;
  for (size_t t = 0; t < ops.size(); ++t) {
    const DiffOpcode& op = ops[t];
    SCOPED_TRACE("tuple " + std::to_string(t) + " of " + show(ops));
    ASSERT_LE(op.i1, op.i2);
    ASSERT_LE(op.j1, op.j2);
    ASSERT_LE(op.i2, a.size());
    ASSERT_LE(op.j2, b.size());
    const size_t old_len = op.i2 - op.i1;
    const size_t new_len = op.j2 - op.j1;
    switch (op.tag) {
      case DiffTag::kEqual:
        ASSERT_GT(old_len, 0u);
        ASSERT_EQ(old_len, new_len);
        for (size_t k = 0; k < old_len; ++k) ASSERT_EQ(a[op.i1 + k], b[op.j1 + k]);
        if (t > 0) {
          ASSERT_NE(ops[t - 1].tag, DiffTag::kEqual);
        }
        break;
      case DiffTag::kDelete:
        ASSERT_GT(old_len, 0u);
        ASSERT_EQ(new_len, 0u);
        break;
      case DiffTag::kInsert:
        ASSERT_EQ(old_len, 0u);
        ASSERT_GT(new_len, 0u);
        break;
      case DiffTag::kReplace:
        ASSERT_GT(old_len, 0u);
        ASSERT_GT(new_len, 0u);
        break;
    }
    old_total += old_len;
    new_total += new_len;
    if (op.tag != DiffTag::kEqual) changed += old_len + new_len;
  }
  EXPECT_EQ(old_total, a.size());
  EXPECT_EQ(new_total, b.size());
  EXPECT_EQ(changed, a.size() + b.size() - 2 * lcs_length(a, b));
}

TEST(LineDiffTest, RandomInputsOverSmallAlphabet) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<size_t> length(0, 30);
  std::uniform_int_distribution<int> letter(0, 2);
  auto random_lines = [&] {
    std::vector<std::string> lines(length(rng));
    for (auto& line : lines) line = std::string(1, static_cast<char>('a' + letter(rng)));
    return lines;
  };
  for (int seed = 0; seed < 4000; ++seed) {
    const auto a = random_lines();
    // Half the time derive the new version from the old one, as real edits do.
    auto b = random_lines();
    if (seed % 2 == 0 && !a.empty()) {
      b = a;
      for (int edit = 0; edit < 3; ++edit) {
        const size_t at = std::uniform_int_distribution<size_t>(0, b.size())(rng);
        if (at < b.size() && letter(rng) == 0) {
          b.erase(b.begin() + static_cast<ptrdiff_t>(at));
        } else {
          b.insert(b.begin() + static_cast<ptrdiff_t>(at), std::string(1, static_cast<char>('a' + letter(rng))));
        }
      }
    }
    SCOPED_TRACE("case " + std::to_string(seed));
    check_properties(a, b);
    if (HasFatalFailure()) return;
  }
}

// The search predicts the split of a range whose two sides share no line
// instead of playing its rounds out. Inputs drawn from mostly separate
// alphabets give such ranges at every depth of the recursion, of every
// shape (odd and even length differences, either side longer), so the
// prediction must match the rounds exactly or the opcodes would differ.
TEST(LineDiffTest, PredictedSplitsMatchTheFullSearch) {
  std::mt19937 rng(7177);
  std::uniform_int_distribution<size_t> length(0, 90);
  std::uniform_int_distribution<int> percent(0, 99);
  std::vector<std::string> pool;
  for (int i = 0; i < 400; ++i) pool.push_back("line " + std::to_string(i));
  auto draw = [&](size_t from, size_t span) { return pool[from + rng() % span]; };
  for (int seed = 0; seed < 6000; ++seed) {
    // Old lines from [0, 200), new lines from [200, 400), with a few lines
    // of a small shared set [0, 3) sprinkled in; some cases use the small
    // shared set only, so long runs of both sides agree.
    const int shared_percent = seed % 5 == 0 ? 60 : 2 + seed % 7;
    const size_t spread = seed % 3 == 0 ? 3 : 200;
    std::vector<std::string> a(length(rng)), b(length(rng));
    for (auto& line : a) line = percent(rng) < shared_percent ? draw(0, 3) : draw(0, spread);
    for (auto& line : b) line = percent(rng) < shared_percent ? draw(0, 3) : draw(200, spread);
    const Lines av(a.begin(), a.end());
    const Lines bv(b.begin(), b.end());
    const auto fast = blame_diff(av, bv);
    const auto full = blame_diff_full_search(av, bv);
    ASSERT_EQ(fast, full) << "case " << seed << "\nfast " << show(fast) << "\nfull " << show(full);
  }
}

TEST(LineDiffTest, LargeInputWithScatteredChanges) {
  constexpr size_t kLines = 100000;
  std::vector<std::string> a(kLines);
  for (size_t i = 0; i < kLines; ++i) a[i] = "{\"row\":" + std::to_string(i % 5000) + "}";
  std::vector<std::string> b = a;
  for (size_t i = 0; i < kLines; i += 97) b[i] = "changed " + std::to_string(i);
  b.erase(b.begin() + 500, b.begin() + 520);
  b.insert(b.begin() + 70000, 30, "new line");

  const Lines av(a.begin(), a.end());
  const Lines bv(b.begin(), b.end());
  const auto ops = blame_diff(av, bv);
  size_t old_total = 0;
  size_t new_total = 0;
  for (const auto& op : ops) {
    old_total += op.i2 - op.i1;
    new_total += op.j2 - op.j1;
    if (op.tag == DiffTag::kEqual) {
      EXPECT_EQ(a[op.i1], b[op.j1]);
      EXPECT_EQ(a[op.i2 - 1], b[op.j2 - 1]);
    }
  }
  EXPECT_EQ(old_total, a.size());
  EXPECT_EQ(new_total, b.size());
}

}  // namespace
}  // namespace zr::tracking
