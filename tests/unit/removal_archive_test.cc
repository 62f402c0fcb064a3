// Purge archive stamps and the writer's rollback.
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

class PurgeArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zr-archive-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    ASSERT_TRUE(store::init_store(root_).ok());
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Buffers the record of one removed line given as compact JSON.
  static base::Status add(PurgeArchiveWriter& writer, std::string_view compact_value) {
    std::string record;
    append_archive_record_of_value(record, writer.stamp(), compact_value);
    return writer.AddRecords(record, 1);
  }

  std::string root_;
};

TEST_F(PurgeArchiveWriterTest, RollbackRestoresAnArchiveOfTheSameSecond) {
  const std::string path = purge_archive_path(root_, purge_archive_stamp(1000));
  {
    base::Result<PurgeArchiveWriter> first = PurgeArchiveWriter::Open(root_, 1000);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(add(*first, "[1]").ok());
    ASSERT_TRUE(first->Flush().ok());
    first->Commit();
  }
  const std::string committed = read(path);
  EXPECT_EQ(committed, "{\"archived_at\":\"19700101T001640\",\"line\":[1]}\n");
  {
    base::Result<PurgeArchiveWriter> second = PurgeArchiveWriter::Open(root_, 1000);
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(add(*second, "[2]").ok());
    ASSERT_TRUE(second->Flush().ok());
    EXPECT_EQ(read(path), committed + "{\"archived_at\":\"19700101T001640\",\"line\":[2]}\n");
    // Destroyed without Commit: the run failed later.
  }
  EXPECT_EQ(read(path), committed);
}

TEST_F(PurgeArchiveWriterTest, RollbackRemovesWhatTheRunCreated) {
  {
    base::Result<PurgeArchiveWriter> writer = PurgeArchiveWriter::Open(root_, 0);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(add(*writer, "{}").ok());
    ASSERT_TRUE(writer->Flush().ok());
    writer->Rollback();
  }
  EXPECT_FALSE(std::filesystem::exists(archive_dir(root_)));
}

}  // namespace
}  // namespace zr::removal
