// Every copy of the per-instruction-set routines that this CPU runs must
// give the portable copy's answers, byte for byte, on valid and damaged
// input alike. Lengths are spread over the vector widths so that the block
// loops and their scalar tails both see every kind of byte.
#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/cpu_kernels.h"
#include "json/write.h"
#include "store/cpu_kernels.h"
#include "support/random_json.h"
#include "tracking/cpu_kernels.h"

namespace zr {
namespace {

class Inputs : public test::RandomJson {
 public:
  using RandomJson::RandomJson;

  // Mostly plain ASCII, with a sharp byte now and then.
  std::string bytes(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      s += pick(12) == 0 ? sharp_byte() : static_cast<char>('a' + pick(26));
    }
    return s;
  }

  // A string body of escapes and plain runs, some escapes invalid.
  std::string escaped_body() {
    static const char* kPieces[] = {"\\n", "\\\"", "\\\\", "\\/", "\\t", "\\b", "\\f", "\\r", "\\u0041",
                                    "\\u00e9", "\\u001f", "\\u2028", "\\ud83d\\ude00", "\\u0022", "\\u005C",
                                    "\xc3\xa9", "\\x", "\\u12", "\\ud800", "\\udc00", "\\ud800\\u0041", "\\"};
    std::string s;
    for (size_t n = pick(6); n > 0; --n) {
      s += plain(pick(70));
      s += kPieces[pick(pick(8) == 0 ? std::size(kPieces) : std::size(kPieces) - 6)];
    }
    return s + plain(pick(40));
  }

  // A JSON Lines record as the store writes them, with strings of every
  // length around the vector widths, or (one in three) damaged.
  std::string line() {
    std::string s = "{";
    for (size_t n = 1 + pick(6); n > 0; --n) {
      if (s.size() > 1) s += pick(4) == 0 ? " , " : ",";
      s += "\"" + plain(1 + pick(8)) + "\":";
      switch (pick(6)) {
        case 0: s += std::to_string(static_cast<int64_t>(engine()()) - (1LL << 31)); break;
        case 1: s += "[\"" + plain(pick(40)) + "\",\"" + escaped_body() + "\"]"; break;
        case 2: s += pick(2) ? "true" : "null"; break;
        case 3: s += "{\"k\":" + std::to_string(pick(1000)) + ".25e" + std::to_string(pick(30)) + "}"; break;
        default: s += "\"" + (pick(3) ? plain(pick(100)) : escaped_body()) + "\"";
      }
    }
    s += "}";
    if (pick(3) == 0) damage(s);
    return s;
  }

 private:
  // Letters and now and then an accented one (two bytes of UTF-8).
  std::string plain(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += pick(30) == 0 ? std::string("\xc3\xa9") : std::string(1, 'a' + pick(26));
    return s;
  }
};

// A room's tables of the copies other than the portable one; the tests
// have nothing to compare where this CPU runs only the portable copy (or
// only it was built).
template <typename Table>
std::vector<const Table*> fast_copies(std::span<const Table* const> runnable) {
  return std::vector<const Table*>(runnable.begin() + 1, runnable.end());
}

#define SKIP_WITHOUT_FAST_COPIES() \
  if (json::runnable_cpu_kernels().size() < 2) GTEST_SKIP() << "this CPU runs only the portable copy"

// Every room offers the same copies, the portable one first, so that the
// comparisons below cover every copy the entry points may choose.
TEST(IsaKernels, EveryRoomOffersTheSameCopies) {
  std::vector<std::string> json_copies, store_copies, tracking_copies;
  for (const auto* copy : json::runnable_cpu_kernels()) json_copies.push_back(copy->name);
  for (const auto* copy : store::runnable_cpu_kernels()) store_copies.push_back(copy->name);
  for (const auto* copy : tracking::runnable_cpu_kernels()) tracking_copies.push_back(copy->name);
  ASSERT_FALSE(json_copies.empty());
  EXPECT_EQ(json_copies[0], "portable");
  EXPECT_EQ(store_copies, json_copies);
  EXPECT_EQ(tracking_copies, json_copies);
  EXPECT_STREQ(json::cpu_kernels().name, json_copies.back().c_str());
}

TEST(IsaKernels, ParsersAgreeOnValidAndDamagedLines) {
  SKIP_WITHOUT_FAST_COPIES();
  const json::CpuKernels& portable = *json::runnable_cpu_kernels()[0];
  Inputs inputs(1517);
  auto reference = portable.new_parser();
  for (const json::CpuKernels* copy : fast_copies(json::runnable_cpu_kernels())) {
    auto parser = copy->new_parser();
    ASSERT_EQ(copy->required_padding(), portable.required_padding());
    int accepted = 0;
    for (int i = 0; i < 4000; ++i) {
      const std::string line = inputs.line();
      // In place (readable bytes after the line) and copied.
      std::string file = line + "\n" + inputs.bytes(portable.required_padding());
      for (size_t readable_after : {size_t{0}, file.size() - line.size()}) {
        std::string_view text(file.data(), line.size());
        std::string want, got;
        const bool want_ok = reference->Canonicalize(text, readable_after, want);
        ASSERT_EQ(parser->Canonicalize(text, readable_after, got), want_ok) << copy->name << ": " << line;
        ASSERT_EQ(got, want) << copy->name << ": " << line;
        accepted += want_ok;
        json::Value want_tree, got_tree;
        ASSERT_EQ(parser->ParseInto(text, readable_after, got_tree),
                  reference->ParseInto(text, readable_after, want_tree)) << copy->name << ": " << line;
        ASSERT_EQ(json::to_compact(got_tree), json::to_compact(want_tree)) << copy->name << ": " << line;
      }
      base::Result<json::Value> want = reference->Parse(line), got = parser->Parse(line);
      ASSERT_EQ(got.ok(), want.ok()) << copy->name << ": " << line;
      if (!want.ok()) {
        ASSERT_EQ(got.status().message(), want.status().message()) << line;
      }
    }
    EXPECT_GT(accepted, 4000);  // both ways, so about two thirds of the lines twice
  }
}

TEST(IsaKernels, StringWritersAgree) {
  SKIP_WITHOUT_FAST_COPIES();
  const json::CpuKernels& portable = *json::runnable_cpu_kernels()[0];
  Inputs inputs(2024);
  for (const json::CpuKernels* copy : fast_copies(json::runnable_cpu_kernels())) {
    for (int i = 0; i < 3000; ++i) {
      const std::string raw = inputs.bytes(inputs.pick(140));
      std::string want = "prefix", got = "prefix";
      portable.append_string(want, raw);
      copy->append_string(got, raw);
      ASSERT_EQ(got, want) << copy->name << ": " << raw;

      std::string body = inputs.escaped_body();
      if (inputs.pick(4) == 0) inputs.damage(body);
      want = got = "prefix";
      ASSERT_EQ(copy->append_string_from_escaped(got, body), portable.append_string_from_escaped(want, body))
          << copy->name << ": " << body;
      ASSERT_EQ(got, want) << copy->name << ": " << body;
    }
  }
}

TEST(IsaKernels, NeedleScansAgree) {
  SKIP_WITHOUT_FAST_COPIES();
  const store::CpuKernels& portable = *store::runnable_cpu_kernels()[0];
  Inputs inputs(77);
  for (const store::CpuKernels* copy : fast_copies(store::runnable_cpu_kernels())) {
    for (int i = 0; i < 3000; ++i) {
      const std::string needle = "\"" + inputs.bytes(inputs.pick(30)) + "\"";
      std::string text = inputs.bytes(inputs.pick(400));
      // Plant the needle, whole or cut short, a few times.
      for (size_t k = inputs.pick(4); k > 0; --k) {
        text.insert(inputs.pick(text.size() + 1), needle.substr(0, needle.size() - inputs.pick(2)));
      }
      for (size_t from = 0; from <= text.size(); from += 1 + inputs.pick(50)) {
        ASSERT_EQ(copy->find_needle_or_escape(text, from, needle),
                  portable.find_needle_or_escape(text, from, needle))
            << copy->name << ": " << needle << " in " << text << " from " << from;
      }
    }
  }
}

// Runs of lines cut at every length around the block widths, so that
// quotation marks, backslashes and line feeds fall at every offset of a
// block and of its tail.
TEST(IsaKernels, LineStructureScansAgree) {
  SKIP_WITHOUT_FAST_COPIES();
  const store::CpuKernels& portable = *store::runnable_cpu_kernels()[0];
  Inputs inputs(515);
  for (const store::CpuKernels* copy : fast_copies(store::runnable_cpu_kernels())) {
    for (int i = 0; i < 3000; ++i) {
      std::string text;
      for (const size_t length = inputs.pick(300); text.size() < length;) text += inputs.line() + "\n";
      text.resize(inputs.pick(text.size() + 1));
      std::vector<uint32_t> want(text.size()), got(text.size());
      want.resize(portable.find_line_structure(text, want.data()));
      got.resize(copy->find_line_structure(text, got.data()));
      ASSERT_EQ(got, want) << copy->name << ": " << text;
    }
  }
}

// A search round over random rows and lines from a small alphabet (so snakes
// start often and run across block boundaries), in both directions, and the
// overlap test over random rows: every copy writes the same diagonals and
// finds the same first overlap.
TEST(IsaKernels, DiffSearchRoundsAgree) {
  SKIP_WITHOUT_FAST_COPIES();
  const tracking::CpuKernels& portable = *tracking::runnable_cpu_kernels()[0];
  std::mt19937 rng(4242);
  auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  for (const tracking::CpuKernels* copy : fast_copies(tracking::runnable_cpu_kernels())) {
    for (int i = 0; i < 4000; ++i) {
      const int32_t n = pick(1, 70), m = pick(1, 70), d = pick(1, 45);
      const uint32_t letters = static_cast<uint32_t>(pick(1, 4));
      std::vector<uint32_t> old_lines(static_cast<size_t>(n)), new_lines(static_cast<size_t>(m));
      for (auto& line : old_lines) line = static_cast<uint32_t>(rng()) % letters;
      for (auto& line : new_lines) line = static_cast<uint32_t>(rng()) % letters;
      // Rows indexed from -(d / 2) - 2 to d / 2 + 2, as the diff lays them out.
      const int32_t half = d / 2 + 3;
      std::vector<int32_t> previous(static_cast<size_t>(2 * half)), expected(previous.size(), -7), got = expected;
      for (auto& x : previous) x = pick(0, n + 2);
      previous[static_cast<size_t>(((-d - 1) >> 1) + half)] = -2;
      previous[static_cast<size_t>(((d + 1) >> 1) + half)] = -2;
      const bool backward = i % 2 == 1;
      tracking::DiagonalRound<uint32_t, int32_t> round{
          backward ? old_lines.data() + n - 1 : old_lines.data(),
          backward ? new_lines.data() + m - 1 : new_lines.data(),
          n, m, d, backward, previous.data() + half, expected.data() + half};
      const bool expected_met = portable.play_diagonal_round(round);
      round.current = got.data() + half;
      ASSERT_EQ(copy->play_diagonal_round(round), expected_met) << copy->name << " case " << i;
      ASSERT_EQ(got, expected) << copy->name << " case " << i;

      const int32_t count = pick(1, 60);
      std::vector<int32_t> mine(static_cast<size_t>(count)), other(static_cast<size_t>(count));
      for (auto& x : mine) x = pick(0, 40);
      for (auto& x : other) x = pick(0, 40);
      const int32_t target = pick(20, 90);
      ASSERT_EQ(copy->first_overlap(mine.data() + count - 1, other.data(), count, target),
                portable.first_overlap(mine.data() + count - 1, other.data(), count, target))
          << copy->name << " case " << i;
    }
  }
}

}  // namespace
}  // namespace zr
