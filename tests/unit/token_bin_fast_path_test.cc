// The binary index build reads plain entry lines in place and groups sources
// in a hash table; every line outside the plain form goes to the full JSON
// reader. On random and damaged chunk files the index must be byte for byte
// the one that reading every line with the full reader and grouping with an
// ordered map gives, and the scans sharing the line reader must agree too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/coding.h"
#include "store/content_hash.h"
#include "store/jsonl.h"
#include "token_index/forget_set.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_status.h"
#include "support/random_json.h"
#include "support/temp_store.h"

namespace zr::token_index {
namespace {

using Chunk = std::pair<uint64_t, std::string>;  // number, bytes

// What a build must produce, from the full reader alone.
struct Expected {
  std::string index;
  std::string revoked_bits;
  uint32_t entries = 0;
  uint64_t revoked = 0;
};

Expected full_reader_index(const std::vector<Chunk>& chunks) {
  json::Parser parser;
  std::string records;
  std::map<store::HashKey, std::vector<uint32_t>> keyed;
  Expected out;
  uint32_t n = 0;
  for (const auto& [number, text] : chunks) {
    store::for_each_raw_line(text, [&](std::string_view line, size_t offset) {
      std::optional<TokenIndexEntry> entry = parse_entry_line(parser, line);
      if (!entry) return;
      for (const std::string& source : entry->sources) {
        if (std::optional<store::HashKey> key = store::decode_hash_key(source)) keyed[*key].push_back(n);
      }
      char record[16] = {};
      base::encode_fixed16(record, static_cast<uint16_t>(number));
      base::encode_fixed32(record + 2, static_cast<uint32_t>(offset));
      base::encode_fixed32(record + 6, static_cast<uint32_t>(line.size()));
      record[10] = entry->revoked ? 1 : 0;
      records.append(record, sizeof record);
      if (n % 8 == 0) out.revoked_bits.push_back('\0');
      if (entry->revoked) out.revoked_bits.back() = static_cast<char>(out.revoked_bits.back() | (1 << (n % 8)));
      out.revoked += entry->revoked ? 1 : 0;
      ++n;
    });
  }
  const uint32_t source_table = 64 + 16 * n;
  std::string table;
  uint64_t fanout[256] = {};
  for (const auto& [key, entries] : keyed) {
    if (fanout[key[0]] == 0) fanout[key[0]] = source_table + table.size();
    table.append(reinterpret_cast<const char*>(key.data()), key.size());
    base::put_fixed16(table, static_cast<uint16_t>(entries.size()));
    for (uint32_t entry : entries) base::put_fixed32(table, entry);
  }
  std::string header = "ZRIDXTI01";
  base::put_fixed32(header, 1);
  base::put_fixed32(header, n);
  base::put_fixed32(header, static_cast<uint32_t>(keyed.size()));
  base::put_fixed32(header, 64);
  base::put_fixed32(header, source_table);
  base::put_fixed32(header, static_cast<uint32_t>(source_table + table.size()));
  header.resize(64, '\0');
  out.entries = n;
  out.index = header + records + table;
  for (uint64_t offset : fanout) base::put_fixed64(out.index, offset);
  return out;
}

size_t first_difference(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

// Entry lines of every kind: the plain forms the system writes, forms only
// the full reader takes (escapes, spacing, 20-digit counts, arrays), invalid
// ones, and damaged copies of all of them.
class LineMaker {
 public:
  explicit LineMaker(uint32_t seed) : random_(seed), rng_(random_.engine()) {
    // Keys sharing their first byte, or their first eight, test the
    // bucket and sort boundaries; many keys make the table grow.
    for (int i = 0; i < 3000; ++i) {
      std::string hex = store::sha256_hex(std::to_string(seed) + "/" + std::to_string(i));
      if (i % 7 == 0) hex.replace(0, 16, "00112233445566ff");
      if (i % 11 == 0) hex.replace(0, 2, "7f");
      keys_.push_back(hex);
    }
  }

  std::string Line() {
    std::string line = pick(6) ? Plain() : Unusual();
    if (pick(12)) random_.damage(line);
    return line;
  }

 private:
  bool pick(int one_in) { return rng_() % one_in == 0; }
  const std::string& key() { return keys_[rng_() % (pick(3) ? 40 : keys_.size())]; }

  std::string Source() {
    switch (rng_() % 12) {
      case 0: {
        std::string upper = key();
        for (char& c : upper) c = static_cast<char>(std::toupper(c));
        return upper;
      }
      case 1:
        return "abc";
      case 2:
        return key().substr(0, 62);
      case 3:
        return key().substr(0, 63) + "g";
      case 4:
        return "";
      case 5:
        return "\xc3\xa9t\xc3\xa9";
      default:
        return key();
    }
  }

  std::string Sources(bool plain) {
    std::string text = "[";
    int n = static_cast<int>(rng_() % 4);
    for (int i = 0; i < n; ++i) {
      std::string source = Source();
      if (!plain && !source.empty() && pick(3)) source.replace(0, 1, "\\u00" + hex_byte(source[0]));
      text += (i ? ",\"" : "\"") + source + "\"";
    }
    return text + "]";
  }

  static std::string hex_byte(char c) {
    static const char kDigits[] = "0123456789abcdef";
    auto b = static_cast<unsigned char>(c);
    return {kDigits[b >> 4], kDigits[b & 15]};
  }

  std::string Count() {
    switch (rng_() % 10) {
      case 0:
        return "18446744073709551615";
      case 1:
        return "18446744073709551616";
      case 2:
        return "0";
      case 3:
        return std::vector<std::string>{"01", "-1", "1.0", "1e2", "\"5\""}[rng_() % 5];
      default:
        return std::to_string(rng_() % 100000);
    }
  }

  std::string Revoked() { return pick(20) ? "null" : (pick(10) ? "true" : "false"); }

  // The two member orders the system writes.
  std::string Plain() {
    std::string count = std::to_string(rng_() % 5000), sources = Sources(true), revoked = pick(10) ? "true" : "false";
    if (pick(2))
      return "{\"revoked\":" + revoked + ",\"sources\":" + sources + ",\"token_count\":" + count +
             ",\"tokenizer\":\"tk\"}";
    return "{\"token_count\":" + count + ",\"sources\":" + sources + ",\"tokenizer\":\"tk\",\"revoked\":" + revoked +
           "}";
  }

  std::string Unusual() {
    std::vector<std::pair<std::string, std::string>> members = {{"token_count", Count()},
                                                                {"sources", Sources(false)},
                                                                {"tokenizer", pick(4) ? "\"t\\u006b\"" : "\"tk\""},
                                                                {"revoked", Revoked()}};
    if (pick(6)) return "[" + members[0].second + "," + members[1].second + ",\"tk\"," + members[3].second + "]";
    std::shuffle(members.begin(), members.end(), rng_);
    if (pick(5)) members.emplace_back("extra", pick(2) ? "{\"revoked\":true,\"a\":[1,{}]}" : "-2.5e3");
    if (pick(8)) members.push_back(members[rng_() % 4]);
    if (pick(8)) members.erase(members.begin() + static_cast<long>(rng_() % members.size()));
    const std::string space = pick(3) ? " " : "";
    std::string text = space + "{";
    for (size_t i = 0; i < members.size(); ++i) {
      text += (i ? "," + space : "") + "\"" + members[i].first + "\"" + space + ":" + space + members[i].second;
    }
    return text + space + "}" + space;
  }

  test::RandomJson random_;
  std::mt19937& rng_;
  std::vector<std::string> keys_;
};

using TokenBinFastPathTest = test::TokenChunksTest;

TEST_F(TokenBinFastPathTest, RandomAndDamagedChunksBuildTheFullReadersIndex) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    LineMaker maker(seed);
    std::mt19937 rng(seed);
    std::vector<Chunk> chunks;
    const std::vector<std::pair<std::string, uint64_t>> names = {{"001", 1}, {"2", 2}, {"+3", 3}};
    for (const auto& [name, number] : names) {
      std::string text;
      for (int i = 0; i < 1500; ++i) {
        text += maker.Line();
        text += rng() % 15 == 0 ? "\r\n" : (rng() % 25 == 0 ? "\n\n" : "\n");
      }
      if (rng() % 2) text += maker.Line();  // no final line feed
      write_chunk(name, text);
      chunks.emplace_back(number, text);
    }
    const Expected expected = full_reader_index(chunks);

    base::Result<BinaryIndexCounts> built = token_index_build_binary_index(root_, "tk");
    ASSERT_TRUE(built.ok()) << built.status().message();
    const std::string built_bytes = read(binary_index_path());
    ASSERT_TRUE(built_bytes == expected.index)
        << "seed " << seed << ": sizes " << built_bytes.size() << " and " << expected.index.size()
        << ", first difference at byte " << first_difference(built_bytes, expected.index);
    EXPECT_EQ(built->entries, expected.entries);

    // The scans that read the same lines without the index.
    base::Result<std::string> bits = token_index_scan_revoked_bits(root_, "tk");
    ASSERT_TRUE(bits.ok());
    EXPECT_EQ(*bits, expected.revoked_bits) << "seed " << seed;
    base::Result<TokenStatus> status = token_index_token_status(root_, "tk");
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status->total_entries, expected.entries);
    EXPECT_EQ(status->revoked_entries, expected.revoked);

    for (const auto& entry : std::filesystem::directory_iterator(root_ + "/.zr/token-index.tk")) {
      std::filesystem::remove(entry.path());
    }
  }
}

// The same source under more entries than a record can count fails on both
// paths alike, naming the smallest such key.
TEST_F(TokenBinFastPathTest, OverfullKeysAreReportedInKeyOrder) {
  const std::string low = "01" + std::string(62, '0');
  const std::string high = "f1" + std::string(62, '0');
  std::string text;
  for (int i = 0; i < 65536; ++i) {
    text +=
        "{\"token_count\":1,\"sources\":[\"" + high + "\",\"" + low + "\"],\"tokenizer\":\"tk\",\"revoked\":false}\n";
  }
  write_chunk("001", text);
  base::Result<BinaryIndexCounts> built = token_index_build_binary_index(root_, "tk");
  ASSERT_FALSE(built.ok());
  EXPECT_EQ(built.status().message(),
            "token binary index limit exceeded: 65536 entries name source " + low + " (at most 65535)");
}

}  // namespace
}  // namespace zr::token_index
