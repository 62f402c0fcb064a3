#include "store/oplog.h"
#include "support/temp_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/file.h"

namespace zr {
namespace {

TEST(LogTimestamp, DaysSinceTheEpochThenTheTimeOfDay) {
  struct Case {
    int64_t seconds;
    const char* text;
  };
  for (Case c : {Case{0, "0-00:00:00"}, Case{-1, "0-00:00:00"}, Case{INT64_MIN, "0-00:00:00"},
                 Case{59, "0-00:00:59"}, Case{3600 + 60 + 1, "0-01:01:01"}, Case{86399, "0-23:59:59"},
                 Case{86400, "1-00:00:00"}, Case{172799, "1-23:59:59"}, Case{172800, "2-00:00:00"},
                 Case{1796574365, "20793-16:26:05"}}) {
    EXPECT_EQ(store::format_log_timestamp(c.seconds), c.text) << c.seconds;
  }
  EXPECT_EQ(store::format_log_timestamp(INT64_MAX), "106751991167300-15:30:07");
}

using OperationLog = test::TempStoreTest;

TEST_F(OperationLog, AppendsOneLinePerCallWithoutCreatingTheStore) {
  base::Status missing = store::oplog_append_at(root(), "op", "x", 0);
  EXPECT_FALSE(missing.ok());
  EXPECT_FALSE(std::filesystem::exists(store_dir()));

  std::filesystem::create_directories(store_dir());
  ASSERT_TRUE(store::oplog_append_at(root(), "purge", "file=a.jsonl purged=2", 172799).ok());
  ASSERT_TRUE(store::oplog_append_at(root(), "clean", "", 172800).ok());
  EXPECT_EQ(read(store_dir() + "/log"), "1-23:59:59 purge file=a.jsonl purged=2\n2-00:00:00 clean \n");

  // A log that is no regular file is refused, even a FIFO someone reads.
  const std::string log = store_dir() + "/log";
  std::filesystem::remove(log);
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  base::UniqueFd reader(::open(log.c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(store::oplog_append_at(root(), "clean", "", 0).message(), std::strerror(ENODEV));
  char byte;
  EXPECT_LE(::read(reader.get(), &byte, 1), 0);  // nothing was written
}

}  // namespace
}  // namespace zr
