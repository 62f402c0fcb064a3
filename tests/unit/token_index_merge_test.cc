// Merging per-process token files: the chunk text copied together from
// member texts must be, byte for byte, what parsing every record into a
// value and writing it with the compact writer gives, on the lines trackers
// write and on anything else a per-process file may hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "token_index/canonical_records.h"
#include "token_index/merge_pid_files.h"
#include "token_index/token_index_entry.h"
#include "support/random_json.h"
#include "support/temp_store.h"

namespace zr::token_index {
namespace {

// What the merge wrote for a file before it copied member texts: every
// parseable line as a value, written back compact with sorted members.
std::string full_path_text(std::string_view file_text) {
  std::string out;
  json::Parser parser;
  store::for_each_line(file_text, [&](std::string_view line, size_t) {
    json::Value value;
    if (!parser.ParseInto(line, 0, value)) return;
    json::append_compact(out, value);
    out.push_back('\n');
  });
  return out;
}

// Entry lines as trackers write them, and lines a little or a lot off that
// form: reordered, spaced, escaped, out-of-range or damaged at random.
class LineGenerator {
 public:
  explicit LineGenerator(uint32_t seed) : random_(seed) {}

  std::string line() {
    std::string text = written_entry();
    switch (pick(8)) {
      case 0: return text;
      case 1: return text + (pick(2) ? "\r" : " ");
      case 2: return reordered();
      case 3: return damaged(text);
      case 4: return damaged(damaged(text));
      case 5: return odd_count(text);
      default: return text;
    }
  }

 private:
  size_t pick(size_t n) { return random_.pick(n); }

  std::string string_value() {
    static const std::vector<std::string> kPieces = {"a", "0f", "tk", "é", "\xe2\x82\xac", "x.y", "\\\"", "\\u00e9",
                                                     "\\n", "/", "\xf0\x9f\x98\x80", " ", std::string(64, 'c')};
    std::string s;
    for (size_t n = pick(4); n > 0; --n) s += kPieces[pick(kPieces.size())];
    return s;
  }

  std::string sources_text() {
    std::string s;
    for (size_t n = pick(4); n > 0; --n) {
      if (!s.empty()) s += ',';
      s += '"' + string_value() + '"';
    }
    return s;
  }

  std::string count_text() {
    static const std::vector<std::string> kCounts = {"0", "7", "4000", "9999999999999999999", "18446744073709551615",
                                                     "18446744073709551616", "123"};
    return kCounts[pick(kCounts.size())];
  }

  std::string written_entry() {
    return "{\"token_count\":" + count_text() + ",\"sources\":[" + sources_text() + "],\"tokenizer\":\"" +
           string_value() + "\",\"revoked\":" + (pick(2) ? "true" : "false") + "}";
  }

  std::string reordered() {
    switch (pick(4)) {
      case 0:
        return "{\"revoked\":false,\"sources\":[" + sources_text() + "],\"token_count\":" + count_text() +
               ",\"tokenizer\":\"tk\"}";
      case 1:
        return "{\"token_count\":1,\"sources\":[" + sources_text() + "],\"tokenizer\":\"tk\",\"revoked\":false,"
               "\"extra\":{\"b\":1,\"a\":[1.5e3,-0,null]}}";
      case 2:
        return "{ \"token_count\" : 1 , \"sources\" : [ \"a\" , \"b\" ] , "
               "\"tokenizer\" : \"tk\" , \"revoked\" : true }";
      default:
        return "[" + count_text() + ",[" + sources_text() + "],\"tk\",false]";
    }
  }

  std::string odd_count(std::string text) {
    static const std::vector<std::string> kOdd = {"-0", "-1", "01", "1.0", "1e2", "\"1\"", "null", "true"};
    const size_t at = text.find(':') + 1;
    return text.replace(at, text.find(',') - at, kOdd[pick(kOdd.size())]);
  }

  std::string damaged(std::string text) {
    const size_t comma = text.find(',');
    if (pick(5) != 0 || comma == std::string::npos) return random_.damaged(text);
    // A member given twice: the last one is the one kept.
    return text.substr(0, text.size() - 1) + "," + text.substr(1, comma - 1) + "}";
  }

  test::RandomJson random_;
};

TEST(SortedWrittenEntry, CopiesAWrittenEntryIntoTheMergedForm) {
  const std::vector<TokenIndexEntry> entries = {
      {0, {}, "tk", false},
      {9999999999999999999ULL, {std::string(64, 'a'), "b"}, "tk.v2", true},
      {12, {"\xc3\xa9", "", "x y"}, "\xe2\x82\xac", false},
  };
  for (const TokenIndexEntry& entry : entries) {
    std::string line = entry_line(entry);
    line.pop_back();
    std::string out = "kept|";
    ASSERT_TRUE(append_sorted_written_entry(out, line)) << line;
    std::string sorted = entry_line_sorted(entry);
    sorted.pop_back();
    EXPECT_EQ(out, "kept|" + sorted);
  }
}

TEST(SortedWrittenEntry, AgreesWithTheTreeWriterOnRandomAndDamagedLines) {
  LineGenerator generator(20250614);
  RecordCanonicalizer canonicalizer;
  int copied = 0;
  int parsed_otherwise = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string line = generator.line();
    const std::string expected = full_path_text(line);
    std::string copy;
    if (append_sorted_written_entry(copy, line)) {
      ++copied;
      ASSERT_EQ(copy + "\n", expected) << line;
    } else {
      ASSERT_TRUE(copy.empty()) << line;
      if (!expected.empty()) ++parsed_otherwise;
    }
    std::string out;
    ASSERT_EQ(canonicalizer.AppendRecords(line, out), expected.empty() ? 0u : 1u) << line;
    ASSERT_EQ(out, expected) << line;
  }
  // Both ways are exercised, not just one.
  EXPECT_GT(copied, 2000);
  EXPECT_GT(parsed_otherwise, 2000);
}

class MergePidFiles : public test::TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    std::filesystem::create_directories(store_dir());
  }
};

TEST_F(MergePidFiles, EveryChunkHoldsWhatTheFullReaderAndWriterWouldWrite) {
  LineGenerator generator(7);
  std::vector<std::string> texts;
  for (int file = 0; file < 6; ++file) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += generator.line() + (i % 7 == 0 ? "\r\n\n" : "\n");
    if (file == 2) text = "\n  \nnot json\n{\n";  // no record: deleted, no chunk
    if (file == 4) text.pop_back();              // a last line without its line feed
    texts.push_back(text);
    write(store_dir() + "/token-index.tk." + std::to_string(1000 + file), text);
  }
  // The merge takes the files in listing order.
  base::Result<std::vector<base::DirEntry>> listed = base::list_directory(store_dir());
  ASSERT_TRUE(listed.ok());
  std::vector<std::string> expected;
  uint64_t records = 0;
  for (const base::DirEntry& entry : *listed) {
    std::string text = full_path_text(texts[std::stoi(entry.name.substr(entry.name.rfind('.') + 1)) - 1000]);
    if (text.empty()) continue;
    records += static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    expected.push_back(std::move(text));
  }
  ASSERT_EQ(expected.size(), 5u);

  base::Result<MergeCounts> counts = token_index_merge_pid_files(root_, "tk");
  ASSERT_TRUE(counts.ok()) << counts.status().ToString();
  EXPECT_EQ(counts->records_merged, records);
  EXPECT_EQ(counts->files_handled, 6u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(read(store_dir() + "/token-index.tk/00" + std::to_string(i + 1)), expected[i]) << "chunk " << i + 1;
  }
  // Nothing else is left behind: no per-process file, no temporary file.
  std::vector<std::string> left;
  for (const auto& item : std::filesystem::recursive_directory_iterator(store_dir())) {
    left.push_back(item.path().lexically_relative(store_dir()).string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"token-index.tk", "token-index.tk/001", "token-index.tk/002",
                                            "token-index.tk/003", "token-index.tk/004", "token-index.tk/005"}));
}

}  // namespace
}  // namespace zr::token_index
