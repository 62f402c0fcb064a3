// The purge pass on the worker pool: the same result at every pool size,
// equal to a plain sequential purge; and the set and filter it relies on.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "base/worker_pool.h"
#include "purge/line_sets.h"
#include "purge/archive.h"
#include "purge/pass.h"
#include "store/content_hash.h"
#include "store/init.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "store/substring_filter.h"
#include "support/temp_store.h"

namespace zr::purge {
namespace {

class PurgePass : public test::TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    ASSERT_TRUE(store::init_store(root_).ok());
  }
  void TearDown() override {
    base::WorkerPool::SetThreadCountForTesting(0);
    TempStoreTest::TearDown();
  }
};

// Lines of a few distinct values in many spellings, with blank, CRLF-ended
// and non-JSON lines among them.
std::string random_data(std::mt19937_64& rng, size_t bytes, std::vector<std::string>& spellings_of_values) {
  const std::vector<std::string> values = {
      R"({"a":1,"b":[true,null,"x"]})", R"({"b":[true,null,"x"],"a":1})", R"( { "a" : 1 , "b" : [ true , null , "x" ] } )",
      R"({"text":"caf\u00e9 \ud83d\ude00","n":-12})", R"({"n":-12,"text":"café 😀"})", R"([1.5,2.25,{"z":{}}])",
      R"("just a string")", R"(42)", R"({"k":"\"quoted\\"})"};
  const std::vector<std::string> junk = {"not json", "{", "   ", "[1,]", R"({"a":1}x)", "NaN"};
  spellings_of_values = values;
  std::string out;
  while (out.size() < bytes) {
    size_t r = rng() % 100;
    if (r < 8) {
      out += junk[rng() % junk.size()];
    } else if (r < 12) {
      // an empty line
    } else if (r < 14) {
      out += R"({"long":")" + std::string(10000 + rng() % 5000, 'L') + R"("})";
    } else {
      out += values[rng() % values.size()];
    }
    out += (rng() % 3 == 0) ? "\r\n" : "\n";
  }
  out += values[0];  // no final line feed
  return out;
}

TEST_F(PurgePass, SameResultAtEveryPoolSizeAsASequentialPurge) {
  std::mt19937_64 rng(7);
  std::vector<std::string> values;
  const std::string data = random_data(rng, 1500000, values);

  // The set: the hashes of a few values, computed through the value tree.
  json::Parser parser;
  LineSet lines;
  std::set<std::string> listed;
  for (size_t i : {0, 3, 6}) {
    std::string hash = store::content_hash(*parser.Parse(values[i]));
    lines.Add(hash);
    listed.insert(hash);
  }

  std::string expected_data, expected_archive;
  uint64_t expected_purged = 0;
  store::for_each_line(data, [&](std::string_view line, size_t) {
    base::Result<json::Value> value = parser.Parse(line);
    if (value.ok() && listed.contains(store::content_hash(*value))) {
      ++expected_purged;
      expected_archive += "{\"archived_at\":\"19700101T000000\",\"line\":" + json::to_compact(*value) + "}\n";
    } else {
      expected_data.append(line);
      expected_data.push_back('\n');
    }
  });
  ASSERT_GT(expected_purged, 1000u);

  const std::string data_file = root_ + "/data.jsonl";
  const std::string archive = purge_archive_path(root_, "19700101T000000");
  for (size_t threads : {1, 2, 3, 8}) {
    base::WorkerPool::SetThreadCountForTesting(threads);
    write(data_file, data);
    std::filesystem::remove(archive);
    base::Result<PurgeCounts> counts = purge_lines_by_hash(
        root_, data_file, lines, [](uint64_t n) { return std::to_string(n); }, 0);
    ASSERT_TRUE(counts.ok()) << counts.status().ToString();
    EXPECT_EQ(counts->purged, expected_purged) << threads;
    EXPECT_EQ(counts->archived, expected_purged) << threads;
    EXPECT_EQ(read(data_file), expected_data) << threads;
    EXPECT_EQ(read(archive), expected_archive) << threads;
  }
}

TEST(PurgeLineSet, OnlyLowerCaseHashesMatchAndEveryDistinctStringCounts) {
  LineSet set;
  const std::string hash = store::sha256_hex("x");
  std::string upper = hash;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(set.Add(hash));
  EXPECT_FALSE(set.Add(hash));
  EXPECT_TRUE(set.Add(upper));
  EXPECT_TRUE(set.Add(""));
  EXPECT_TRUE(set.Add("short"));
  EXPECT_EQ(set.size(), 4u);

  store::HashKey digest;
  ASSERT_TRUE(decode_lower_hex_hash(hash, digest));
  EXPECT_TRUE(set.ContainsDigest(digest));
  digest[31] ^= 1;
  EXPECT_FALSE(set.ContainsDigest(digest));

  LineSet only_others;
  only_others.Add(upper);
  EXPECT_TRUE(only_others.matches_nothing());
  EXPECT_FALSE(only_others.empty());
}

TEST(PurgeLineSet, ManyKeysAfterGrowth) {
  LineSet set;
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(set.Add(store::sha256_hex(std::to_string(i))));
  EXPECT_EQ(set.size(), 5000u);
  store::HashKey digest;
  for (int i = 0; i < 10000; ++i) {
    ASSERT_TRUE(decode_lower_hex_hash(store::sha256_hex(std::to_string(i)), digest));
    EXPECT_EQ(set.ContainsDigest(digest), i < 5000) << i;
  }
}

TEST(PurgeSubstringFilter, AgreesWithPlainSearch) {
  std::mt19937_64 rng(11);
  auto random_text = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back("ab\"c"[rng() % 4]);
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> needles;
    for (size_t i = 0, n = rng() % 6; i < n; ++i) needles.push_back(random_text(rng() % 5));
    store::SubstringFilter filter(needles);
    for (int k = 0; k < 20; ++k) {
      std::string line = random_text(rng() % 40);
      bool expected = false;
      for (const std::string& needle : needles) expected = expected || (!needle.empty() && line.find(needle) != std::string::npos);
      ASSERT_EQ(filter.Matches(line), expected) << line;
    }
  }
}

}  // namespace
}  // namespace zr::purge
