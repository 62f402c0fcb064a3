#include "store/oplog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(OperationLog, AppendsOneLinePerCallWithoutCreatingTheStore) {
  std::filesystem::path root = std::filesystem::path(testing::TempDir()) / "oplog_test_root";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  base::Status missing = store::oplog_append_at(root.string(), "op", "x", 0);
  EXPECT_FALSE(missing.ok());
  EXPECT_FALSE(std::filesystem::exists(root / ".zr"));

  std::filesystem::create_directories(root / ".zr");
  ASSERT_TRUE(store::oplog_append_at(root.string(), "purge", "file=a.jsonl purged=2", 172799).ok());
  ASSERT_TRUE(store::oplog_append_at(root.string(), "clean", "", 172800).ok());
  EXPECT_EQ(read_file(root / ".zr" / "log"), "1-23:59:59 purge file=a.jsonl purged=2\n2-00:00:00 clean \n");

  // A log that is no regular file is refused, even a FIFO someone reads.
  std::filesystem::remove(root / ".zr" / "log");
  ASSERT_EQ(::mkfifo((root / ".zr" / "log").c_str(), 0600), 0);
  base::UniqueFd reader(::open((root / ".zr" / "log").c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(store::oplog_append_at(root.string(), "clean", "", 0).message(), std::strerror(ENODEV));
  char byte;
  EXPECT_LE(::read(reader.get(), &byte, 1), 0);  // nothing was written
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace zr
