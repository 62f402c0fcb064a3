// Which pending purge records housekeeping may remove: only those whose
// every line is also in their data file or in a purge archive of their
// second or later, counting copies.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/file.h"
#include "purge/archive.h"
#include "purge/stale_pending.h"
#include "support/temp_store.h"

namespace zr::purge {
namespace {

constexpr char kLater[] = "20300101T000002";
constexpr char kSame[] = "20300101T000001";
constexpr char kEarlier[] = "20300101T000000";

class StalePendingTest : public test::TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    std::filesystem::create_directories(archive_dir(root_));
    data_ = root_ + "/data.jsonl";
    write(data_, "{\"other\":0}\n");
  }

  static std::string records(const std::vector<std::string>& values, const std::string& stamp = kSame) {
    std::string text;
    for (const std::string& value : values) append_archive_record_of_value(text, stamp, value);
    return text;
  }

  // A pair left by a run of `data_file` at second kSame: `replaced` says
  // whether the data file has changed since the run began.
  std::string pending(const std::string& unique, const std::vector<std::string>& values, bool replaced,
                      const std::string& data_file = "") {
    const std::string file = data_file.empty() ? data_ : data_file;
    base::Result<FileIdentity> identity = base::file_identity(file);
    PendingNote note{file, identity.ok() ? *identity : FileIdentity{}};
    if (replaced) note.identity.inode += 1;
    const std::string note_path = archive_dir(root_) + "/.purge-pending." + kSame + "." + unique;
    write(note_path, format_pending_note(note));
    write(note_path + ".lines", records(values));
    return note_path;
  }

  void archive(const std::string& stamp, const std::vector<std::string>& values) {
    append(purge_archive_path(root_, stamp), records(values, stamp));
  }

  static bool pair_exists(const std::string& note_path) {
    bool note = std::filesystem::exists(note_path), lines = std::filesystem::exists(note_path + ".lines");
    EXPECT_EQ(note, lines) << note_path;
    return note && lines;
  }

  std::string data_;
};

TEST_F(StalePendingTest, ARunKilledBeforeItsReplacementIsClearedOnceItsLinesAreArchivedAgain) {
  // The killed run's records; its re-run then archived the same lines.
  const std::string rerun = pending("AbC123", {"[1]", "{\"a\":2,\"b\":[3]}"}, /*replaced=*/true);
  archive(kSame, {"{\"b\":[3],\"a\":2}", "[1]"});
  discard_stale_pending_purges(root_);
  EXPECT_FALSE(pair_exists(rerun));

  // Lines still in the (since appended to) data file, in any spelling.
  write(data_, "{\"other\":0}\n  [ 4 ]\r\n{ \"c\" : 5 }");
  const std::string appended = pending("DeF456", {"[4]", "{\"c\":5}"}, /*replaced=*/true);
  discard_stale_pending_purges(root_);
  EXPECT_FALSE(pair_exists(appended));
}

TEST_F(StalePendingTest, TheOnlyCopyOfARemovedLineStays) {
  // An archive of an earlier second cannot hold what this run removed: the
  // line was purged before, added again and removed once more.
  archive(kEarlier, {"[1]"});
  // One copy cannot stand for two removed lines of the same content.
  archive(kLater, {"[2]"});
  const std::string older = pending("AbC123", {"[1]"}, /*replaced=*/true);
  const std::string twice = pending("DeF456", {"[2]", "[2]"}, /*replaced=*/true);
  const std::string unknown = pending("GhI789", {"[3]"}, /*replaced=*/true);
  discard_stale_pending_purges(root_);
  EXPECT_TRUE(pair_exists(older));
  EXPECT_TRUE(pair_exists(twice));
  EXPECT_TRUE(pair_exists(unknown));

  archive(kLater, {"[2]"});
  discard_stale_pending_purges(root_);
  EXPECT_FALSE(pair_exists(twice));
  EXPECT_TRUE(pair_exists(older));
}

TEST_F(StalePendingTest, OneCopyClearsOnePairOnly) {
  archive(kSame, {"[1]"});
  const std::string first = pending("AbC123", {"[1]"}, /*replaced=*/true);
  const std::string second = pending("DeF456", {"[1]"}, /*replaced=*/true);
  discard_stale_pending_purges(root_);
  EXPECT_NE(pair_exists(first), pair_exists(second));

  // A run of a never-replaced file owns the lines that file holds: they do
  // not clear an older pair too.
  write(data_, "[7]\n");
  const std::string killed_after = pending("GhI789", {"[7]"}, /*replaced=*/true);
  const std::string killed_before = pending("JkL012", {"[7]"}, /*replaced=*/false);
  discard_stale_pending_purges(root_);
  EXPECT_FALSE(pair_exists(killed_before));
  EXPECT_TRUE(pair_exists(killed_after));
}

TEST_F(StalePendingTest, WhatCannotBeReadKeepsThePairs) {
  archive(kSame, {"[1]", "[2]"});
  const std::string unreadable_data = root_ + "/dir.jsonl";
  std::filesystem::create_directories(unreadable_data);
  const std::string behind_directory = pending("AbC123", {"[1]"}, /*replaced=*/true, unreadable_data);
  std::filesystem::create_directories(archive_dir(root_) + "/purge.20300101T000009");
  const std::string covered = pending("DeF456", {"[2]"}, /*replaced=*/true);
  const std::string unchanged = pending("GhI789", {"[3]"}, /*replaced=*/false);
  discard_stale_pending_purges(root_);
  EXPECT_TRUE(pair_exists(behind_directory));
  EXPECT_TRUE(pair_exists(covered));  // an archive that cannot be read might vouch for something else
  EXPECT_FALSE(pair_exists(unchanged));

  std::filesystem::remove(archive_dir(root_) + "/purge.20300101T000009");
  discard_stale_pending_purges(root_);
  EXPECT_TRUE(pair_exists(behind_directory));
  EXPECT_FALSE(pair_exists(covered));

  // A data file that no longer exists holds no lines, but archives still count.
  const std::string gone = root_ + "/gone.jsonl";
  write(gone, "[8]\n");
  const std::string of_gone = pending("JkL012", {"[8]"}, /*replaced=*/true, gone);
  std::filesystem::remove(gone);
  discard_stale_pending_purges(root_);
  EXPECT_TRUE(pair_exists(of_gone));
  archive(kLater, {"[8]"});
  discard_stale_pending_purges(root_);
  EXPECT_FALSE(pair_exists(of_gone));
}

TEST_F(StalePendingTest, APurgeClearsOnlyThePairsOfItsOwnDataFile) {
  const std::string other_file = root_ + "/other.jsonl";
  write(other_file, "[1]\n");
  const std::string of_other = pending("AbC123", {"[1]"}, /*replaced=*/false, other_file);
  const std::string own = pending("DeF456", {"[2]"}, /*replaced=*/true);
  archive(kSame, {"[2]"});
  discard_stale_pending_purges(root_, data_);
  EXPECT_TRUE(pair_exists(of_other));  // perhaps a purge of that file still running
  EXPECT_FALSE(pair_exists(own));
}

}  // namespace
}  // namespace zr::purge
