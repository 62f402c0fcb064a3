// Purge archive stamps, pending records and the notes that judge them.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/file.h"
#include "purge/archive.h"
#include "purge/stale_pending.h"
#include "store/init.h"
#include "support/temp_store.h"

namespace zr::purge {
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

class PendingPurgeArchiveTest : public test::TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    ASSERT_TRUE(store::init_store(root_).ok());
    data_ = root_ + "/data.jsonl";
    write(data_, "{}\n");
  }

  // The note of a run that is about to replace the data file.
  PendingNote note() const {
    base::Result<FileIdentity> identity = base::file_identity(data_);
    EXPECT_TRUE(identity.ok());
    return PendingNote{data_, identity.ok() ? *identity : FileIdentity{}};
  }

  // Stands for the rename of a purge's new content over the data file.
  void replace_data_file() {
    write(data_ + ".new", "{}\n");
    std::filesystem::rename(data_ + ".new", data_);
  }

  // Opens a run at `seconds` and gives it the record of one removed line.
  std::optional<PendingPurgeArchive> begin(int64_t seconds, std::string_view compact_value) {
    base::Result<PendingPurgeArchive> opened = PendingPurgeArchive::Open(root_, seconds, note());
    EXPECT_TRUE(opened.ok()) << opened.status().ToString();
    if (!opened.ok()) return std::nullopt;
    std::string record;
    append_archive_record_of_value(record, opened->stamp(), compact_value);
    EXPECT_TRUE(opened->AddRecords(record, 1).ok());
    EXPECT_TRUE(opened->Flush().ok());
    return std::optional<PendingPurgeArchive>(std::move(opened).value());
  }

  std::vector<std::string> archive_names() const {
    std::vector<std::string> names;
    if (!std::filesystem::exists(archive_dir(root_))) return names;
    for (const auto& entry : std::filesystem::directory_iterator(archive_dir(root_))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string data_;
};

TEST_F(PendingPurgeArchiveTest, RecordsJoinAnArchiveOfTheSameSecondOnlyWhenPromoted) {
  const std::string path = purge_archive_path(root_, purge_archive_stamp(1000));
  const std::string first = "{\"archived_at\":\"19700101T001640\",\"line\":[1]}\n";
  const std::string second = "{\"archived_at\":\"19700101T001640\",\"line\":[2]}\n";
  {
    std::optional<PendingPurgeArchive> run = begin(1000, "[1]");
    ASSERT_TRUE(run);
    EXPECT_FALSE(std::filesystem::exists(path));  // pending until the data file is replaced
    replace_data_file();
    ASSERT_TRUE(run->Promote().ok());
    EXPECT_EQ(run->archive_path(), path);
  }
  EXPECT_EQ(read(path), first);
  {
    std::optional<PendingPurgeArchive> run = begin(1000, "[2]");
    ASSERT_TRUE(run);
    EXPECT_EQ(read(path), first);
    replace_data_file();
    ASSERT_TRUE(run->Promote().ok());
  }
  EXPECT_EQ(read(path), first + second);
  EXPECT_EQ(archive_names(), std::vector<std::string>{"purge.19700101T001640"});
}

TEST_F(PendingPurgeArchiveTest, AFailedRunLeavesNothingWhileItsDataFileIsUnchanged) {
  ASSERT_TRUE(begin(0, "{}"));  // destroyed without Promote: the run failed before the rename
  EXPECT_FALSE(std::filesystem::exists(archive_dir(root_)));

  // An archive of the same second is never touched by a run that failed.
  std::filesystem::create_directories(archive_dir(root_));
  write(purge_archive_path(root_, purge_archive_stamp(0)), "old\n");
  ASSERT_TRUE(begin(0, "{}"));
  EXPECT_EQ(archive_names(), std::vector<std::string>{"purge.19700101T000000"});
  EXPECT_EQ(read(purge_archive_path(root_, purge_archive_stamp(0))), "old\n");
}

// The disk fills while the records join an archive of the same second: the
// archive is cut back to what it held, its torn last line included, and the
// records stay pending, so that they exist exactly once.
TEST_F(PendingPurgeArchiveTest, AnAppendToTheArchiveTheDiskCannotTakeIsUndone) {
  std::filesystem::create_directories(archive_dir(root_));
  const std::string path = purge_archive_path(root_, purge_archive_stamp(0));
  write(path, "{\"archived_at\":\"19700101T000000\",\"li");  // a line cut off earlier
  std::optional<PendingPurgeArchive> run = begin(0, "[7]");
  ASSERT_TRUE(run);
  replace_data_file();

  // A file size limit stands for the full disk: writes stop a few bytes in.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = read(path).size() + 8;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const base::Status promoted = run->Promote();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, saved_handler);

  EXPECT_EQ(promoted.error_number(), EFBIG) << promoted.ToString();
  EXPECT_EQ(read(path), "{\"archived_at\":\"19700101T000000\",\"li");
  std::vector<std::string> names = archive_names();
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(read(archive_dir(root_) + "/" + names[1]), "{\"archived_at\":\"19700101T000000\",\"line\":[7]}\n");
}

TEST_F(PendingPurgeArchiveTest, RecordsOfAReplacedDataFileAreNeverDiscarded) {
  {
    std::optional<PendingPurgeArchive> run = begin(0, "[7]");
    ASSERT_TRUE(run);
    replace_data_file();  // and then the run dies before Promote
  }
  std::vector<std::string> names = archive_names();
  ASSERT_EQ(names.size(), 2u);
  const std::string note_path = archive_dir(root_) + "/" + names[0];
  EXPECT_TRUE(is_pending_note_name(names[0])) << names[0];
  EXPECT_EQ(names[1], names[0] + ".lines");
  EXPECT_EQ(read(note_path + ".lines"), "{\"archived_at\":\"19700101T000000\",\"line\":[7]}\n");

  discard_stale_pending_purges(root_);  // what housekeeping does
  EXPECT_EQ(archive_names(), names);

  // A note whose records are gone (they reached the archive) goes.
  std::filesystem::remove(note_path + ".lines");
  discard_stale_pending_purges(root_);
  EXPECT_TRUE(archive_names().empty());
}

TEST_F(PendingPurgeArchiveTest, AStaleRunOfAnUnchangedDataFileIsDiscarded) {
  {
    std::optional<PendingPurgeArchive> run = begin(0, "[7]");
    ASSERT_TRUE(run);
    // A crash before the rename: nothing runs the destructor.
    std::string note_path = archive_dir(root_) + "/" + archive_names()[0];
    std::filesystem::copy(note_path, root_ + "/note");
    std::filesystem::copy(note_path + ".lines", root_ + "/lines");
  }
  std::filesystem::create_directories(archive_dir(root_));
  write(archive_dir(root_) + "/.purge-pending.19700101T000000.AbC123", read(root_ + "/note"));
  write(archive_dir(root_) + "/.purge-pending.19700101T000000.AbC123.lines", read(root_ + "/lines"));
  discard_stale_pending_purges(root_);
  EXPECT_TRUE(archive_names().empty());
}

TEST(PendingPurgeNote, RoundTripsAndRefusesPartialText) {
  PendingNote note{"/dir/with space/and\nnewline.jsonl", FileIdentity{66306, 1ull << 40, 12, 1700000000, 999999999,
                                                                      1700000001, 5}};
  const std::string text = format_pending_note(note);
  std::optional<PendingNote> back = parse_pending_note(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->data_file, note.data_file);
  EXPECT_TRUE(back->identity == note.identity);
  for (size_t cut : {size_t{0}, size_t{3}, text.find('\n'), text.find('\n') + 1}) {
    EXPECT_FALSE(parse_pending_note(text.substr(0, cut))) << cut;
  }
  EXPECT_FALSE(parse_pending_note("1 2 3 4 5 6 x\n/p"));
}

TEST(PendingPurgeNote, OnlyTheSystemsOwnNamesArePending) {
  EXPECT_TRUE(is_pending_note_name(".purge-pending.20261207T130454.aZ09xY"));
  EXPECT_FALSE(is_pending_note_name(".purge-pending.20261207T130454.aZ09xY.lines"));
  EXPECT_FALSE(is_pending_note_name(".purge-pending.20261207T130454.aZ09x"));
  EXPECT_FALSE(is_pending_note_name(".purge-pending.20261207T130454.aZ09x!"));
  EXPECT_FALSE(is_pending_note_name(".purge-pending.2026120T130454.aZ09xY"));
  EXPECT_FALSE(is_pending_note_name("purge.20261207T130454"));
  EXPECT_TRUE(base::is_temp_file_name(".tmp-Ab12Cd", ".tmp-"));
  EXPECT_FALSE(base::is_temp_file_name(".tmp-index.bin-Ab12Cd", ".tmp-"));
  EXPECT_FALSE(base::is_temp_file_name(".tmp-notes", ".tmp-"));
}

}  // namespace
}  // namespace zr::purge
