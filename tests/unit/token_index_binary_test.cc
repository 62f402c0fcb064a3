// The token binary index: reader messages, lookups, in-place flags, currency,
// and that no damaged or truncated file makes a read leave the file.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/coding.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_bin_format.h"
#include "token_index/token_bin_reader.h"
#include "support/temp_store.h"

namespace zr::token_index {
namespace {

std::string hex_key(int first, int last) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex = {kDigits[first >> 4], kDigits[first & 15]};
  hex.append(60, '0');
  hex.push_back(kDigits[last >> 4]);
  hex.push_back(kDigits[last & 15]);
  return hex;
}

std::string entry_line(const std::vector<std::string>& sources, bool revoked) {
  std::string line = "{\"token_count\":1,\"sources\":[";
  for (size_t i = 0; i < sources.size(); ++i) line += (i ? ",\"" : "\"") + sources[i] + "\"";
  return line + "],\"tokenizer\":\"tk\",\"revoked\":" + (revoked ? "true" : "false") + "}\n";
}

class TokenBinIndexTest : public test::TokenChunksTest {
 protected:
  TokenBinIndex open() {
    auto r = TokenBinIndex::Open(root_, "tk");
    EXPECT_TRUE(r.ok() && r->has_value()) << (r.ok() ? "absent" : r.status().message());
    return std::move(**r);
  }
  std::string open_error() {
    auto r = TokenBinIndex::Open(root_, "tk");
    return r.ok() ? "opened" : r.status().message();
  }
  void build() {
    auto r = token_index_build_binary_index(root_, "tk");
    ASSERT_TRUE(r.ok()) << r.status().message();
  }
  // Nine entries, 0 and 8 revoked; keys: A in 0 and twice in 3, B in 5, C
  // (same first byte as A, larger) in 8.
  void build_nine() {
    std::string text;
    for (int i = 0; i < 9; ++i) {
      std::vector<std::string> sources;
      if (i == 0) sources = {kA};
      if (i == 3) sources = {kA, "short", kA};
      if (i == 5) sources = {kB};
      if (i == 8) sources = {kC};
      text += entry_line(sources, i == 0 || i == 8);
    }
    write(merged() + "/001", text);
    build();
  }
  static void set_mtime(const std::string& path, time_t sec, long nsec) {
    struct timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }

  const std::string kA = hex_key(0x42, 1);
  const std::string kB = hex_key(0x07, 9);
  const std::string kC = hex_key(0x42, 2);
};

TEST_F(TokenBinIndexTest, OpeningReportsEachProblem) {
  auto absent = TokenBinIndex::Open(root_, "tk");
  ASSERT_TRUE(absent.ok());
  EXPECT_FALSE(absent->has_value());
  EXPECT_FALSE(TokenBinIndex::Open(root_, "a/b").ok());

  write(binary_index_path(), std::string(10, 'Z'));
  EXPECT_EQ(open_error(), "token binary index file too small: 10 bytes");
  write(binary_index_path(), std::string(64, 'Z'));
  EXPECT_EQ(open_error(), "token binary index magic mismatch");

  std::string header = "ZRIDXTI01" + std::string(55, '\0');
  base::encode_fixed32(header.data() + kVersionAt, 2);
  write(binary_index_path(), header);
  EXPECT_EQ(open_error(), "unsupported token binary index version: 2");

  // A header whose tables do not fit the file refuses to open.
  base::encode_fixed32(header.data() + kVersionAt, 1);
  write(binary_index_path(), header + std::string(2048, '\0'));
  EXPECT_EQ(open_error(), "opened");
  base::encode_fixed32(header.data() + kEntryCountAt, 200);
  write(binary_index_path(), header + std::string(2048, '\0'));
  EXPECT_EQ(open_error(), "token binary index damaged: entry table lies outside the file");
  base::encode_fixed32(header.data() + kEntryCountAt, 0);
  base::encode_fixed32(header.data() + kFanoutTableAt, 65);
  write(binary_index_path(), header + std::string(2048, '\0'));
  EXPECT_EQ(open_error(), "token binary index damaged: fanout table lies outside the file");
}

TEST_F(TokenBinIndexTest, EntriesLookupsAndRevokedMask) {
  build_nine();
  TokenBinIndex index = open();
  ASSERT_EQ(index.entry_count(), 9u);
  std::optional<TokenBinEntry> third = index.entry(3);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(third->chunk, 1);
  EXPECT_EQ(third->offset, entry_line({kA}, true).size() + 2 * entry_line({}, false).size());
  EXPECT_EQ(third->length, entry_line({kA, "short", kA}, false).size() - 1);
  EXPECT_FALSE(third->revoked);
  EXPECT_TRUE(index.entry(8)->revoked);
  EXPECT_FALSE(index.entry(9).has_value());

  auto lookup = [&](const std::vector<std::string>& sources) {
    auto r = index.LookupSources(source_keys(sources));
    EXPECT_TRUE(r.ok());
    return r.ok() ? *r : std::vector<uint32_t>{};
  };
  EXPECT_EQ(lookup({kA}), (std::vector<uint32_t>{0, 3}));
  EXPECT_EQ(lookup({kC, kB}), (std::vector<uint32_t>{5, 8}));
  EXPECT_EQ(lookup({hex_key(0x42, 0), hex_key(0x42, 9), hex_key(0xff, 0), "short"}), std::vector<uint32_t>{});
  EXPECT_EQ(lookup({"4201" + std::string(60, '0')}), std::vector<uint32_t>{});

  EXPECT_EQ(index.RevokedBitMask(), std::string("\x01\x01", 2));
}

TEST_F(TokenBinIndexTest, CurrentOnlyWhenStrictlyNewerThanEveryRegularFile) {
  write(merged() + "/001", entry_line({kA}, false));
  write(merged() + "/notes", "not a chunk, but a change all the same");
  std::filesystem::create_directory(merged() + "/sub");
  build();
  const time_t t = 1700000000;
  set_mtime(binary_index_path(), t, 500);
  set_mtime(merged() + "/001", t, 499);
  set_mtime(merged() + "/notes", t - 10, 0);
  set_mtime(merged() + "/sub", t + 10, 0);  // directories do not count
  TokenBinIndex index = open();
  EXPECT_TRUE(index.IsCurrent());
  set_mtime(merged() + "/001", t, 500);  // the same tick as the build
  EXPECT_FALSE(index.IsCurrent());
  set_mtime(merged() + "/001", t - 1, 999999999);
  set_mtime(merged() + "/notes", t, 501);
  EXPECT_FALSE(index.IsCurrent());
  std::filesystem::remove_all(merged());
  EXPECT_TRUE(index.IsCurrent());
  std::filesystem::remove(binary_index_path());
  EXPECT_FALSE(index.IsCurrent());
}

// Exercises every read an opened index offers.
void use(const TokenBinIndex& index, const std::vector<store::HashKey>& keys) {
  for (uint64_t i = 0; i <= index.entry_count() && i < 1000; ++i) (void)index.entry(i);
  (void)index.LookupSources(keys);
  (void)index.RevokedBitMask();
}

TEST_F(TokenBinIndexTest, TruncatedOrCorruptedFilesNeverReadOutsideTheFile) {
  // Big enough that some truncations end exactly on a page boundary, where a
  // stray read would fault.
  std::string text;
  std::vector<std::string> all;
  for (int i = 0; i < 400; ++i) {
    std::string key = hex_key((i * 37) & 0xff, i & 0xff);
    all.push_back(key);
    text += entry_line({key, all[static_cast<size_t>(i) / 2]}, i % 3 == 0);
  }
  write(merged() + "/001", text);
  build();
  const std::string good = read(binary_index_path());
  ASSERT_GT(good.size(), 8192u);
  std::vector<store::HashKey> keys = source_keys(all);

  auto open_and_use = [&] {
    auto r = TokenBinIndex::Open(root_, "tk");
    if (r.ok() && r->has_value()) use(**r, keys);
  };

  // Every cut inside the header and around each table boundary and page
  // boundary, and a spread of others (truncating is slow on some disks).
  uint32_t source_table = base::decode_fixed32(good.data() + kSourceTableAt);
  uint32_t fanout_table = base::decode_fixed32(good.data() + kFanoutTableAt);
  std::vector<size_t> cuts;
  for (size_t s = 0; s < 2 * kHeaderSize; ++s) cuts.push_back(s);
  for (size_t edge : {size_t{source_table}, size_t{fanout_table}, size_t{4096}, size_t{8192}, good.size()}) {
    for (size_t s = edge - 3; s <= edge + 3; ++s) cuts.push_back(s);
  }
  for (size_t s = 0; s < good.size(); s += 97) cuts.push_back(s);
  std::sort(cuts.rbegin(), cuts.rend());
  for (size_t size : cuts) {
    if (size >= good.size()) continue;
    std::filesystem::resize_file(binary_index_path(), size);
    open_and_use();
  }

  // Corruptions are written over the file in place, the size unchanged.
  write(binary_index_path(), good);
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::fstream file(binary_index_path(), std::ios::binary | std::ios::in | std::ios::out);
    std::vector<std::pair<size_t, char>> changed;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) {
      // Aim at the header and the fanout table half of the time.
      size_t at = rng() % 2 ? rng() % good.size() : (rng() % 2 ? rng() % 64 : good.size() - 1 - rng() % 2048);
      changed.emplace_back(at, static_cast<char>(rng()));
    }
    for (auto [at, byte] : changed) file.seekp(static_cast<std::streamoff>(at)).put(byte);
    file.flush();
    open_and_use();
    for (auto [at, byte] : changed) file.seekp(static_cast<std::streamoff>(at)).put(good[at]);
  }
}

// Limits that no test store can reach; the others are tested end to end.
TEST(TokenBinEncoding, RefusesOffsetsAndLengthsOf4GiB) {
  auto encode = [](EntryRef entry) { return encode_token_bin_index({entry}, {}); };
  EXPECT_TRUE(encode({65535, 0xFFFFFFFFu, 0xFFFFFFFFu, true}).ok());
  EXPECT_FALSE(encode({1, uint64_t{1} << 32, 1, false}).ok());
  EXPECT_FALSE(encode({1, 0, uint64_t{1} << 32, false}).ok());
}

}  // namespace
}  // namespace zr::token_index
