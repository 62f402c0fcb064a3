// Purge archive names, stamps and the writer's rollback.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "removal/purge_archive.h"
#include "store/init.h"

namespace zr::removal {
namespace {

TEST(PurgeArchiveStamp, GregorianCalendar) {
  EXPECT_EQ(purge_archive_stamp(0), "19700101T000000");
  EXPECT_EQ(purge_archive_stamp(-5), "19700101T000000");
  EXPECT_EQ(purge_archive_stamp(86399), "19700101T235959");
  EXPECT_EQ(purge_archive_stamp(68169600), "19720229T000000");    // leap year
  EXPECT_EQ(purge_archive_stamp(951782400), "20000229T000000");   // divisible by 400: leap
  EXPECT_EQ(purge_archive_stamp(946684799), "19991231T235959");
  EXPECT_EQ(purge_archive_stamp(4107542400), "21000301T000000");  // divisible by 100 only: no Feb 29
  EXPECT_EQ(purge_archive_stamp(4107542399), "21000228T235959");
  EXPECT_EQ(purge_archive_stamp(1796574365), "20261206T162605");
  EXPECT_EQ(purge_archive_stamp(253402300799), "99991231T235959");
}

TEST(PurgeArchiveStamp, NamesRecognised) {
  EXPECT_TRUE(is_purge_archive_name("purge.20261206T162605"));
  EXPECT_FALSE(is_purge_archive_name("purge.20261206T16260"));
  EXPECT_FALSE(is_purge_archive_name("purge.20261206t162605"));
  EXPECT_FALSE(is_purge_archive_name("purge.2026120XT162605"));
  EXPECT_FALSE(is_purge_archive_name("clean.20261206T162605"));
  EXPECT_FALSE(is_purge_archive_name("purge.20261206T162605.tmp"));
}

TEST(PurgeArchiveRecord, ParsedValueWrittenAnew) {
  json::Parser parser;
  std::string out, scratch;
  append_archive_record(out, "20000101T000000", R"( {"b": [1, 2.50], "a": "\u00e9"} )", parser, scratch);
  append_archive_record(out, "20000101T000000", "not json", parser, scratch);
  EXPECT_EQ(out,
            "{\"archived_at\":\"20000101T000000\",\"line\":{\"a\":\"\xC3\xA9\",\"b\":[1,2.5]}}\n"
            "{\"archived_at\":\"20000101T000000\",\"line\":null}\n");
}

class PurgeArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zr-archive-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    ASSERT_TRUE(init_store(root_).ok());
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string root_;
};

TEST_F(PurgeArchiveWriterTest, RollbackRestoresAnArchiveOfTheSameSecond) {
  const std::string path = purge_archive_path(root_, purge_archive_stamp(1000));
  {
    Result<PurgeArchiveWriter> first = PurgeArchiveWriter::Open(root_, 1000);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(first->Add("[1]").ok());
    ASSERT_TRUE(first->Flush().ok());
    first->Commit();
  }
  const std::string committed = read(path);
  EXPECT_EQ(committed, "{\"archived_at\":\"19700101T001640\",\"line\":[1]}\n");
  {
    Result<PurgeArchiveWriter> second = PurgeArchiveWriter::Open(root_, 1000);
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(second->Add("[2]").ok());
    ASSERT_TRUE(second->Flush().ok());
    EXPECT_EQ(read(path), committed + "{\"archived_at\":\"19700101T001640\",\"line\":[2]}\n");
    // Destroyed without Commit: the run failed later.
  }
  EXPECT_EQ(read(path), committed);
}

TEST_F(PurgeArchiveWriterTest, RollbackRemovesWhatTheRunCreated) {
  {
    Result<PurgeArchiveWriter> writer = PurgeArchiveWriter::Open(root_, 0);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(writer->Add("{}").ok());
    ASSERT_TRUE(writer->Flush().ok());
    writer->Rollback();
  }
  EXPECT_FALSE(std::filesystem::exists(archive_dir(root_)));
}

TEST_F(PurgeArchiveWriterTest, WriteArchiveLogsOnlyWhenThereAreLines) {
  Result<std::optional<ArchiveWritten>> none = write_purge_archive(root_, {}, 0);
  ASSERT_TRUE(none.ok());
  EXPECT_FALSE(none->has_value());
  EXPECT_FALSE(std::filesystem::exists(archive_dir(root_)));

  Result<std::optional<ArchiveWritten>> two = write_purge_archive(root_, {"1", "\"x\""}, 86400);
  ASSERT_TRUE(two.ok());
  ASSERT_TRUE(two->has_value());
  EXPECT_EQ((*two)->count, 2u);
  EXPECT_EQ((*two)->path, root_ + "/.zr/archive/purge.19700102T000000");
  EXPECT_EQ(read((*two)->path),
            "{\"archived_at\":\"19700102T000000\",\"line\":1}\n{\"archived_at\":\"19700102T000000\",\"line\":\"x\"}\n");
  EXPECT_EQ(read(root_ + "/.zr/log"), "1-00:00:00 purge_archive archived 2 lines to " + (*two)->path + "\n");
}

}  // namespace
}  // namespace zr::removal
