// index.bin: exact bytes of the writer (expected files are built here by
// hand, independently of the encoder), lookups, opening errors, the format
// limits, the all-or-nothing replacement, and damaged files.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <random>

#include "index/binary_index_reader.h"
#include "index/binary_index_writer.h"
#include "support/temp_store.h"

namespace zr::index {
namespace {

namespace fs = std::filesystem;

void le(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

store::HashKey key(uint8_t first, uint8_t second = 0) {
  store::HashKey k{};
  k[0] = first;
  k[1] = second;
  k[31] = 0x5a;
  return k;
}

std::string raw(const store::HashKey& k) { return std::string(reinterpret_cast<const char*>(k.data()), k.size()); }

std::string hex(const store::HashKey& k) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : k) out += {digits[b >> 4], digits[b & 15]};
  return out;
}

std::string header(uint32_t count, uint64_t t) {
  std::string s = "ZRIDXF02";
  le(s, count, 4);
  le(s, 0, 4);
  le(s, t, 8);
  return s;
}

std::string fanout(std::initializer_list<std::pair<int, uint64_t>> slots) {
  std::string s(kFanoutSize, '\0');
  for (auto [b, off] : slots) {
    std::string v;
    le(v, off, 8);
    s.replace(8 * b, 8, v);
  }
  return s;
}

std::vector<Ref> shards(std::initializer_list<uint8_t> values) {
  std::vector<Ref> refs;
  for (uint8_t v : values) refs.emplace_back(ShardRef{v});
  return refs;
}

class BinaryIndexTest : public test::TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    fs::create_directory(store_dir());
    path_ = store_dir() + "/index.bin";
  }

  std::vector<std::string> temp_files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_ + "/.zr")) {
      if (e.path().filename().string().starts_with(".tmp-")) names.push_back(e.path().filename());
    }
    return names;
  }
  std::string open_error() const {
    auto opened = BinaryIndex::Open(root_);
    return opened.ok() ? "" : opened.status().message();
  }

  std::string path_;
};

TEST_F(BinaryIndexTest, ZeroEntriesGiveHeaderAndEmptyFanout) {
  auto count = binary_index_write(root_, {});
  ASSERT_TRUE(count.ok()) << count.status().ToString();
  EXPECT_EQ(*count, 0u);
  EXPECT_EQ(read(path_), header(0, 24) + fanout({}));
  auto opened = BinaryIndex::Open(root_);
  ASSERT_TRUE(opened.ok() && opened->has_value());
  EXPECT_TRUE((*opened)->Lookup(hex(key(0))).empty());
  EXPECT_EQ((*opened)->view().line_table_count(), 0u);
  EXPECT_EQ((*opened)->view().line_table_position(), 0u);
  EXPECT_TRUE(temp_files().empty());
}

TEST_F(BinaryIndexTest, RecordsSortedWithFanoutAndLookups) {
  // Given out of order; 0x3f10 and 0x3f20 share a bucket.
  std::vector<IndexEntry> entries = {
      {key(0xa0), {TokenRef{"bpe", 7, 100, 42}, ShardRef{0x0b}}},
      {key(0x3f, 0x20), shards({0x0a, 0xf3})},
      {key(0x3f, 0x10), {}},
  };
  ASSERT_TRUE(binary_index_write(root_, entries).ok());
  // A token ref with a 3-byte name takes 15 payload bytes.
  std::string records = raw(key(0x3f, 0x10)) + std::string("\0\0", 2) + raw(key(0x3f, 0x20)) +
                        std::string("\x04\0\0\x0a\0\xf3", 6) + raw(key(0xa0)) + std::string("\x11\0\x01\x03", 4) +
                        "bpe";
  le(records, 7, 2);
  le(records, 100, 4);
  le(records, 42, 4);
  records += std::string("\0\x0b", 2);
  EXPECT_EQ(read(path_), header(3, 24 + records.size()) + records + fanout({{0x3f, 24}, {0xa0, 24 + 34 + 38}}));

  auto opened = BinaryIndex::Open(root_);
  ASSERT_TRUE(opened.ok() && opened->has_value());
  const BinaryIndex& index = **opened;
  EXPECT_EQ(index.Lookup(hex(key(0x3f, 0x20))), shards({0x0a, 0xf3}));  // scans past the first record
  EXPECT_EQ(index.Lookup(hex(key(0xa0))), (std::vector<Ref>{TokenRef{"bpe", 7, 100, 42}, ShardRef{0x0b}}));
  std::string upper = hex(key(0x3f, 0x20));
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  EXPECT_EQ(index.Lookup(upper), shards({0x0a, 0xf3}));
  for (const std::string& absent :
       {hex(key(0x3f, 0x10)), hex(key(0x3f, 0x05)), hex(key(0x3f, 0x30)), hex(key(0x00)), hex(key(0xff)),
        hex(key(0xa0)).substr(1), hex(key(0xa0)) + "0", "g" + hex(key(0xa0)).substr(1)}) {
    EXPECT_TRUE(index.Lookup(absent).empty()) << absent;
  }
}

TEST_F(BinaryIndexTest, LookupStopsAtFirstGreaterKey) {
  // A bucket out of order: the wanted key sits behind a greater one and must
  // not be found, because sorted buckets are scanned only up to such a key.
  std::string records =
      raw(key(0x10, 0x90)) + std::string("\0\0", 2) + raw(key(0x10, 0x01)) + std::string("\x02\0\0\x07", 4);
  std::string bytes = header(2, 24 + records.size()) + records + fanout({{0x10, 24}});
  auto view = BinaryIndexView::Parse(bytes);
  ASSERT_TRUE(view.ok());
  EXPECT_TRUE(view->Lookup(key(0x10, 0x01)).empty());
}

// Bytes placed right before an inaccessible page: any read past their end
// faults at once instead of going unnoticed in the mapping's slack.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t capacity) {
    page_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    data_size_ = (capacity + page_ - 1) / page_ * page_;
    base_ = static_cast<char*>(
        ::mmap(nullptr, data_size_ + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(base_ + data_size_, page_, PROT_NONE);
  }
  ~GuardedBytes() { ::munmap(base_, data_size_ + page_); }
  std::string_view place(std::string_view bytes) {
    char* start = base_ + data_size_ - bytes.size();
    std::memcpy(start, bytes.data(), bytes.size());
    return {start, bytes.size()};
  }

 private:
  size_t page_, data_size_;
  char* base_;
};

TEST_F(BinaryIndexTest, PayloadSizePastTheEndIsNotRead) {
  // The only record claims 65535 payload bytes; what follows it would decode
  // as shard refs right up to the end of the file and beyond.
  std::string bytes = header(1, 24 + 35) + raw(key(0xff)) + std::string("\xff\xff\0", 3) + fanout({{0xff, 24}});
  GuardedBytes guarded(bytes.size());
  auto view = BinaryIndexView::Parse(guarded.place(bytes));
  ASSERT_TRUE(view.ok());
  EXPECT_TRUE(view->Lookup(key(0xff)).empty());
}

TEST_F(BinaryIndexTest, EqualKeysKeepTheirOrder) {
  std::vector<IndexEntry> entries = {{key(5), shards({1})}, {key(4), {}}, {key(5), shards({2})}};
  ASSERT_TRUE(binary_index_write(root_, entries).ok());
  std::string bytes = read(path_);
  EXPECT_EQ(bytes.substr(24 + 34, 2 * 36),
            raw(key(5)) + std::string("\2\0\0\1", 4) + raw(key(5)) + std::string("\2\0\0\2", 4));
  EXPECT_EQ(BinaryIndex::Open(root_).value()->Lookup(key(5)), shards({1}));
}

TEST_F(BinaryIndexTest, LineOffsetTables) {
  auto table = [](std::initializer_list<uint32_t> offsets) {
    std::string s;
    le(s, offsets.size(), 4);
    for (uint32_t o : offsets) le(s, o, 4);
    return s;
  };
  EXPECT_EQ(encode_line_offsets("a\nb\n"), table({0, 2}));
  EXPECT_EQ(encode_line_offsets("a\n\nb"), table({0, 2, 3}));
  EXPECT_EQ(encode_line_offsets("\n"), table({0}));
  EXPECT_EQ(encode_line_offsets(""), "");

  write(root_ + "/data.jsonl", "a\n\nb");
  ASSERT_TRUE(binary_index_write(root_, {}, root_ + "/data.jsonl").ok());
  EXPECT_EQ(read(path_), header(0, 24) + fanout({}) + table({0, 2, 3}));
  auto opened = BinaryIndex::Open(root_);
  ASSERT_TRUE(opened.ok() && opened->has_value());
  EXPECT_EQ((*opened)->view().line_table_position(), 24u + 2048 + 4);
  EXPECT_EQ((*opened)->view().line_table_count(), 3u);

  // Missing and empty data files add nothing.
  write(root_ + "/empty.jsonl", "");
  for (const std::string& file : {root_ + "/empty.jsonl", root_ + "/missing.jsonl"}) {
    ASSERT_TRUE(binary_index_write(root_, {}, file).ok());
    EXPECT_EQ(read(path_).size(), kMinFileSize);
  }
}

TEST_F(BinaryIndexTest, OpenAndCreateErrors) {
  auto absent = BinaryIndex::Open(root_);
  ASSERT_TRUE(absent.ok());
  EXPECT_FALSE(absent->has_value());

  std::string valid = header(0, 24) + fanout({});
  write(path_, valid.substr(0, 2071));
  EXPECT_EQ(open_error(), "binary index file too small: 2071 bytes");
  write(path_, "");
  EXPECT_EQ(open_error(), "binary index file too small: 0 bytes");
  write(path_, "ZRIDXF01" + valid.substr(8));
  EXPECT_EQ(open_error(), "binary index format ZRIDXF01 is no longer supported; run `zr index build` to rebuild");
  write(path_, "ZRIDXF03" + valid.substr(8));
  EXPECT_EQ(open_error(), "binary index magic mismatch");
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_EQ(open_error(), "opening " + path_);

  fs::remove_all(root_ + "/.zr");
  auto created = binary_index_write(root_, {});
  ASSERT_FALSE(created.ok());
  EXPECT_EQ(created.status().message(), "creating " + path_);
}

TEST_F(BinaryIndexTest, RefsBeyondTheFormatLimitsAreLeftOut) {
  const std::string long_name(200, 't');
  std::vector<Ref> refs = {TokenRef{std::string(256, 'x'), 1, 1, 1}, ShardRef{1},
                           TokenRef{std::string(255, 'y'), 9, 9, 9}, ShardRef{2}};
  for (uint32_t i = 0; i < 400; ++i) refs.emplace_back(TokenRef{long_name, 0, i, 0});
  refs.emplace_back(ShardRef{3});
  refs.emplace_back(TokenRef{"a", 0, 0, 0});  // would fit, but the refs kept are a prefix

  std::vector<Ref> many_shards(40000, ShardRef{7});
  std::vector<IndexEntry> entries = {{key(1), refs}, {key(2), many_shards}};
  ASSERT_TRUE(binary_index_write(root_, entries).ok());
  auto opened = BinaryIndex::Open(root_);
  ASSERT_TRUE(opened.ok() && opened->has_value());

  // 65535 - 3 shard refs - the 255-byte name ref leaves room for 307 refs of 212 bytes.
  std::vector<Ref> expected = {ShardRef{1}, TokenRef{std::string(255, 'y'), 9, 9, 9}, ShardRef{2}};
  for (uint32_t i = 0; i < 307; ++i) expected.emplace_back(TokenRef{long_name, 0, i, 0});
  expected.emplace_back(ShardRef{3});
  EXPECT_EQ((*opened)->Lookup(key(1)), expected);
  EXPECT_EQ((*opened)->Lookup(key(2)).size(), 32767u);
  std::string bytes = read(path_);
  EXPECT_EQ(static_cast<uint8_t>(bytes[24 + 32]) | static_cast<uint8_t>(bytes[24 + 33]) << 8, 6 + 267 + 307 * 212);
}

TEST_F(BinaryIndexTest, FailedWriteKeepsOldIndexAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(binary_index_write(root_, std::vector<IndexEntry>{{key(1), shards({1})}}).ok());
  const std::string old = read(path_);
  std::vector<IndexEntry> entries = {{key(2), shards({2})}};

  // The line table cannot be read: the new index is not committed.
  fs::create_directory(root_ + "/dir.jsonl");
  auto failed = binary_index_write(root_, entries, root_ + "/dir.jsonl");
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(read(path_), old);
  EXPECT_TRUE(temp_files().empty());

  // A writer dropped before commit changes nothing.
  {
    auto writer = BinaryIndexWriter::Create(root_);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(writer->WriteEntries(entries).ok());
    EXPECT_TRUE(fs::exists(writer->temp_path()));
  }
  EXPECT_EQ(read(path_), old);
  EXPECT_TRUE(temp_files().empty());
  ASSERT_TRUE(binary_index_write(root_, entries).ok());
  EXPECT_NE(read(path_), old);
  EXPECT_TRUE(temp_files().empty());

  // The rename itself fails: index.bin is a non-empty directory.
  fs::remove(path_);
  fs::create_directories(path_ + "/x");
  EXPECT_FALSE(binary_index_write(root_, entries).ok());
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_TRUE(temp_files().empty());
}

TEST_F(BinaryIndexTest, DamagedFilesNeverReadOutsideTheirBytes) {
  std::vector<IndexEntry> entries = {
      {key(0x00), shards({1, 2})}, {key(0x3f, 1), {TokenRef{"bpe", 3, 4, 5}}},
      {key(0x3f, 2), {}},          {key(0x3f, 3), {ShardRef{9}, TokenRef{"wordpiece", 1, 2, 3}}},
      {key(0xff), shards({0xff})},
  };
  write(root_ + "/data.jsonl", "{}\n{}\n\n{}");
  ASSERT_TRUE(binary_index_write(root_, entries, root_ + "/data.jsonl").ok());
  const std::string good = read(path_);
  std::vector<store::HashKey> probes = {key(0x3f, 0), key(0x3f, 4), key(0x01), key(0x80)};
  for (const auto& e : entries) probes.push_back(e.key);

  GuardedBytes guarded(good.size());
  auto check = [&](std::string_view bytes) {
    auto view = BinaryIndexView::Parse(guarded.place(bytes));
    if (!view.ok()) {
      const std::string& m = view.status().message();
      EXPECT_TRUE(m.starts_with("binary index file too small: ") || m == "binary index magic mismatch" ||
                  m.starts_with("binary index format ZRIDXF01"))
          << m;
      return;
    }
    for (const store::HashKey& probe : probes) (void)view->Lookup(probe);
  };
  for (size_t size = 0; size <= good.size(); ++size) check(std::string_view(good).substr(0, size));

  // Random damage, half of it where offsets and sizes live: T, the payload
  // sizes, the used fanout slots and an empty one.
  std::mt19937_64 rng(20240611);
  std::vector<size_t> hot = {16, 17, 18, 19, 20, 21, 22, 23};
  const size_t t = good.size() - 4 * 5 - kFanoutSize;
  for (size_t at = kHeaderSize; at < t;
       at += kRecordHeaderSize + (static_cast<uint8_t>(good[at + 32]) | static_cast<uint8_t>(good[at + 33]) << 8)) {
    hot.insert(hot.end(), {at + 32, at + 33});
  }
  for (size_t b : {0x00, 0x3f, 0x40, 0xff}) {
    for (size_t i = 0; i < 8; ++i) hot.push_back(t + 8 * b + i);
  }
  for (int i = 0; i < 20000; ++i) {
    std::string bytes = good;
    for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n) {
      const size_t at = rng() % 2 ? hot[rng() % hot.size()] : rng() % bytes.size();
      bytes[at] = static_cast<char>(rng());
    }
    if (rng() % 4 == 0) bytes.resize(kMinFileSize + rng() % (bytes.size() - kMinFileSize + 1));
    check(bytes);
  }
}

}  // namespace
}  // namespace zr::index
