#include "base/file.h"
#include "base/file_replacement.h"
#include "base/file_system.h"
#include "support/temp_store.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zr {
namespace {

namespace fs = std::filesystem;

class FileTest : public test::TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    dir_ = root_;
  }

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
};

TEST_F(FileTest, ReplaceAtomicallyWritesTheNewBytesAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(base::write_file(path("target"), "old contents\n").ok());
  fs::create_directories(dir_ / "tmp");
  ASSERT_TRUE(base::replace_file_atomically(path("target"), "new\n", path("tmp")).ok());
  EXPECT_EQ(read(path("target")), "new\n");
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
  // The replacement gets the usual mode of a new file, not mkstemp's 0600.
  EXPECT_NE(fs::status(path("target")).permissions() & fs::perms::others_read, fs::perms::none);
}

TEST_F(FileTest, ReplaceAtomicallyLeavesTheTargetIntactOnFailure) {
  ASSERT_TRUE(base::write_file(path("target"), "old contents\n").ok());
  base::Status missing_temp_dir = base::replace_file_atomically(path("target"), "new\n", path("no-such-dir"));
  EXPECT_FALSE(missing_temp_dir.ok());
  EXPECT_EQ(missing_temp_dir.message(), std::strerror(ENOENT));
  EXPECT_EQ(read(path("target")), "old contents\n");

  // Renaming over a directory fails after the temporary file was written:
  // it must not stay behind.
  fs::create_directories(dir_ / "dir-target" / "child");
  EXPECT_FALSE(base::replace_file_atomically(path("dir-target"), "new\n", dir_.string()).ok());
  EXPECT_TRUE(fs::is_directory(dir_ / "dir-target" / "child"));
  EXPECT_EQ(names(), (std::vector<std::string>{"dir-target", "target"}));
}

TEST_F(FileTest, ReplacementGetsTheModeOfANewFileUnderTheCurrentMask) {
  const mode_t saved = ::umask(027);
  EXPECT_EQ(base::process_umask(), 027u);
  EXPECT_EQ(base::process_umask(), 027u);  // reading it left it as it was
  ASSERT_TRUE(base::replace_file_atomically(path("target"), "x", dir_.string()).ok());
  ::umask(saved);
  struct stat st;
  ASSERT_EQ(::stat(path("target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FileTest, DroppedReplacementLeavesNothingAndTheTargetAsItWas) {
  ASSERT_TRUE(base::write_file(path("target"), "old").ok());
  {
    base::Result<base::FileReplacement> replacement =
        base::FileReplacement::Create(path("target"), dir_.string(), ".tmp-");
    ASSERT_TRUE(replacement.ok());
    ASSERT_TRUE(replacement->Write("new").ok());
    ASSERT_TRUE(replacement->Finish(0644).ok());
    EXPECT_EQ(names(), (std::vector<std::string>{fs::path(replacement->temp_path()).filename().string(), "target"}));
  }
  EXPECT_EQ(names(), (std::vector<std::string>{"target"}));
  EXPECT_EQ(read(path("target")), "old");
}

TEST_F(FileTest, BatchTouchesNoTargetBeforeCommitAndStopsAtTheFirstFailedRename) {
  ASSERT_TRUE(base::write_file(path("a"), "old a").ok());
  fs::create_directories(dir_ / "b" / "child");  // a rename over it fails
  ASSERT_TRUE(base::write_file(path("c"), "old c").ok());
  {
    base::ReplacementBatch batch;
    for (const char* name : {"a", "b", "c"}) {
      base::Result<base::FileReplacement> replacement =
          base::FileReplacement::Create(path(name), dir_.string(), ".tmp-");
      ASSERT_TRUE(replacement.ok());
      ASSERT_TRUE(replacement->Write(std::string("new ") + name).ok());
      ASSERT_TRUE(batch.Add(std::move(replacement).value(), 0644).ok());
    }
    EXPECT_EQ(read(path("a")), "old a");
    EXPECT_EQ(names().size(), 6u);  // three targets, three finished temporary files
    EXPECT_EQ(batch.Commit().message(), std::strerror(EISDIR));
  }
  EXPECT_EQ(read(path("a")), "new a");
  EXPECT_EQ(read(path("c")), "old c");
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(FileTest, AppendingOpensRefuseAFifoAtOnce) {
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(base::open_for_append(path("fifo")).status().message(), std::strerror(ENXIO));
  EXPECT_EQ(base::open_regular_for_append(path("fifo")).status().message(), std::strerror(ENXIO));
  // The log's policy refuses a FIFO with a reader too, where a plain append
  // would go through. Neither open waits: a wait would hang the test.
  base::UniqueFd reader(::open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(reader.valid());
  EXPECT_TRUE(base::open_for_append(path("fifo")).ok());
  EXPECT_EQ(base::open_regular_for_append(path("fifo")).status().message(), std::strerror(ENODEV));
  base::Result<base::RegularAppendFile> created = base::open_regular_for_append(path("new"));
  ASSERT_TRUE(created.ok());
  EXPECT_TRUE(created->created);
  ASSERT_TRUE(base::write_all(created->fd.get(), "abc").ok());
  base::Result<base::RegularAppendFile> existing = base::open_regular_for_append(path("new"));
  ASSERT_TRUE(existing.ok());
  EXPECT_FALSE(existing->created);
  EXPECT_EQ(existing->old_size, 3u);
  EXPECT_EQ(base::open_regular_for_append(dir_.string()).status().message(), std::strerror(EISDIR));
}

TEST_F(FileTest, ListDirectoryNamesEveryEntryWithItsKind) {
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  fs::create_directories(dir_ / "sub");
  fs::create_symlink(dir_ / "file", dir_ / "link-to-file");
  fs::create_symlink(dir_ / "sub", dir_ / "link-to-dir");
  fs::create_symlink(dir_ / "gone", dir_ / "dangling");
  base::Result<std::vector<base::DirEntry>> listing = base::list_directory(dir_.string());
  ASSERT_TRUE(listing.ok());
  std::vector<std::pair<std::string, base::PathKind>> got;
  for (const base::DirEntry& e : *listing) got.emplace_back(e.name, e.kind);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::pair<std::string, base::PathKind>>{{"dangling", base::PathKind::kMissing},
                                                                      {"file", base::PathKind::kRegularFile},
                                                                      {"link-to-dir", base::PathKind::kDirectory},
                                                                      {"link-to-file", base::PathKind::kRegularFile},
                                                                      {"sub", base::PathKind::kDirectory}}));
  base::Result<std::vector<base::DirEntry>> missing = base::list_directory(path("missing"));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.status().message(), std::strerror(ENOENT));
}

TEST_F(FileTest, NamesAloneAreListedWithoutExaminingEntries) {
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  fs::create_symlink(dir_ / "loop", dir_ / "loop");
  base::Result<std::vector<std::string>> names = base::list_directory_names(dir_.string());
  ASSERT_TRUE(names.ok());
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"file", "loop"}));
  // Examining every entry meets the loop.
  EXPECT_EQ(base::list_directory(dir_.string()).status().message(), std::strerror(ELOOP));
  EXPECT_EQ(base::list_directory_names(path("file")).status().message(), std::strerror(ENOTDIR));
}

TEST_F(FileTest, ALinkReadsAsWrittenHoweverLong) {
  const std::string long_target = "../" + std::string(300, 'x') + "/y";
  fs::create_symlink("file", dir_ / "short");
  fs::create_symlink(long_target, dir_ / "long");
  EXPECT_EQ(*base::read_link(path("short")), "file");
  EXPECT_EQ(*base::read_link(path("long")), long_target);
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  EXPECT_EQ(base::read_link(path("file")).status().error_number(), EINVAL);
  EXPECT_TRUE(base::read_link(path("none")).status().is_missing());
}

TEST_F(FileTest, ADirectoryIsThereOrMissingAndAnythingElseIsNoDirectory) {
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  fs::create_directories(dir_ / "sub");
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(*base::directory_exists(path("sub")));
  EXPECT_FALSE(*base::directory_exists(path("none")));
  for (const char* name : {"file", "fifo", "file/below"}) {
    EXPECT_EQ(base::directory_exists(path(name)).status().message(), std::strerror(ENOTDIR)) << name;
  }
}

TEST_F(FileTest, MappedFileViewsTheWholeFile) {
  ASSERT_TRUE(base::write_file(path("empty"), "").ok());
  base::Result<base::MappedFile> empty = base::MappedFile::Open(path("empty"));
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty->view(), "");
  ASSERT_TRUE(base::write_file(path("data"), std::string("a\0b\n", 4)).ok());
  base::Result<base::MappedFile> data = base::MappedFile::Open(path("data"));
  ASSERT_TRUE(data.ok());
  EXPECT_EQ(data->view(), std::string_view("a\0b\n", 4));
  EXPECT_EQ(base::MappedFile::Open(dir_.string()).status().message(), std::strerror(EISDIR));
  EXPECT_EQ(base::MappedFile::Open(path("missing")).status().message(), std::strerror(ENOENT));
}

TEST_F(FileTest, AppendAddsToTheEndAndNeverCreatesDirectories) {
  ASSERT_TRUE(base::append_to_file(path("log"), "one\n").ok());
  ASSERT_TRUE(base::append_to_file(path("log"), "two\n").ok());
  EXPECT_EQ(read(path("log")), "one\ntwo\n");
  EXPECT_FALSE(base::append_to_file(path("missing/log"), "x").ok());
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(FileTest, PathsWithNulAreRefusedNotTruncated) {
  std::string with_nul = path("a") + std::string(1, '\0') + "b";
  EXPECT_EQ(base::append_to_file(with_nul, "x").message(), "path contains a NUL byte");
  EXPECT_EQ(base::write_file(with_nul, "x").message(), "path contains a NUL byte");
  EXPECT_FALSE(base::MappedFile::Open(with_nul).ok());
  EXPECT_FALSE(base::list_directory(dir_.string() + std::string(1, '\0')).ok());
  base::Result<base::PathKind> with_nul_kind = base::path_kind(with_nul);
  EXPECT_TRUE(with_nul_kind.ok() && *with_nul_kind == base::PathKind::kMissing);
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}

// --- lines after a cut-off write ---------------------------------------------

TEST_F(FileTest, AppendedLinesNeverJoinTheFragmentOfACutOffLine) {
  // A fragment gets one line break before the new line, in the same write.
  ASSERT_TRUE(base::write_file(path("torn"), "one\n{\"cut").ok());
  ASSERT_TRUE(base::append_to_file(path("torn"), "two\n").ok());
  EXPECT_EQ(read(path("torn")), "one\n{\"cut\ntwo\n");
  // Whole lines, an empty file and a new file get nothing extra.
  ASSERT_TRUE(base::append_to_file(path("torn"), "three\n").ok());
  EXPECT_EQ(read(path("torn")), "one\n{\"cut\ntwo\nthree\n");
  ASSERT_TRUE(base::write_file(path("empty"), "").ok());
  ASSERT_TRUE(base::append_to_file(path("empty"), "x\n").ok());
  ASSERT_TRUE(base::append_to_file(path("new"), "x\n").ok());
  EXPECT_EQ(read(path("empty")), "x\n");
  EXPECT_EQ(read(path("new")), "x\n");
  // The same through descriptors of both appending opens.
  ASSERT_TRUE(base::write_file(path("a"), "cut").ok());
  base::Result<base::UniqueFd> fd = base::open_for_append(path("a"));
  ASSERT_TRUE(fd.ok());
  ASSERT_TRUE(base::append_lines(fd->get(), "x\n").ok());
  base::Result<base::RegularAppendFile> regular = base::open_regular_for_append(path("a"));
  ASSERT_TRUE(regular.ok());
  ASSERT_TRUE(base::write_all(regular->fd.get(), "cut again").ok());
  EXPECT_TRUE(base::ends_mid_line(regular->fd.get()));
  ASSERT_TRUE(base::append_lines(regular->fd.get(), "y\n").ok());
  EXPECT_EQ(read(path("a")), "cut\nx\ncut again\ny\n");
}

TEST_F(FileTest, AFileThatCannotBeReadBackIsAppendedToAsItIs) {
  ASSERT_TRUE(base::write_file(path("f"), "cut").ok());
  base::UniqueFd write_only(::open(path("f").c_str(), O_WRONLY | O_APPEND));
  ASSERT_TRUE(write_only.valid());
  EXPECT_FALSE(base::ends_mid_line(write_only.get()));
  ASSERT_TRUE(base::append_lines(write_only.get(), "x\n").ok());
  EXPECT_EQ(read(path("f")), "cutx\n");
}

// --- what cannot be examined is not missing ----------------------------------

TEST_F(FileTest, OnlyAbsenceReadsAsMissing) {
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  base::Result<base::PathKind> missing = base::path_kind(path("none"));
  ASSERT_TRUE(missing.ok());
  EXPECT_EQ(*missing, base::PathKind::kMissing);
  // A regular file where a directory should be on the way.
  const std::string below_file = path("file") + "/x";
  EXPECT_EQ(base::path_kind(below_file).status().message(), std::strerror(ENOTDIR));
  EXPECT_EQ(base::path_kind(path(std::string(5000, 'n'))).status().message(), std::strerror(ENAMETOOLONG));
  EXPECT_EQ(base::MappedFile::OpenIfExists(below_file).status().message(), std::strerror(ENOTDIR));
  base::Status below = base::FileToMap::Open(below_file).status();
  EXPECT_EQ(below.message(), std::strerror(ENOTDIR));
  EXPECT_FALSE(below.is_missing());
  base::Result<base::MappedFile> absent = base::MappedFile::OpenIfExists(path("none"));
  ASSERT_TRUE(absent.ok());
  EXPECT_EQ(absent->size(), 0u);
  base::Status absent_file = base::FileToMap::Open(path("none")).status();
  EXPECT_EQ(absent_file.message(), std::strerror(ENOENT));
  EXPECT_TRUE(absent_file.is_missing());
}

// --- the error number behind a message ----------------------------------------

TEST_F(FileTest, MissingnessIsAskedOfTheErrorThroughItsContext) {
  base::Status missing = base::file_status(path("none")).status();
  EXPECT_TRUE(missing.is_missing());
  EXPECT_EQ(missing.error_number(), ENOENT);
  // Context changes the message, never what failed.
  base::Status wrapped = missing.WithContext("opening none");
  EXPECT_EQ(wrapped.ToString(), std::string("opening none: ") + std::strerror(ENOENT));
  EXPECT_TRUE(wrapped.is_missing());
  // Unreachable is not missing, and an error of our own has no number.
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  EXPECT_EQ(base::file_status(path("file") + "/x").status().error_number(), ENOTDIR);
  EXPECT_FALSE(base::file_status(path("file") + "/x").status().is_missing());
  EXPECT_EQ(base::Status::Error("damaged").error_number(), 0);
  EXPECT_EQ(base::Status().error_number(), 0);
  // Nothing can be at a path with a NUL in it; the message says why.
  base::Status nul = base::file_identity(path("a") + std::string(1, '\0')).status();
  EXPECT_EQ(nul.message(), "path contains a NUL byte");
  EXPECT_TRUE(nul.is_missing());
}

// --- names: directories, renames, removal -------------------------------------

TEST_F(FileTest, RenameNoReplaceNeverReplacesWhatIsThere) {
  ASSERT_TRUE(base::write_file(path("from"), "new").ok());
  ASSERT_TRUE(base::write_file(path("to"), "old").ok());
  base::Result<bool> refused = base::rename_no_replace(path("from"), path("to"));
  ASSERT_TRUE(refused.ok());
  EXPECT_FALSE(*refused);
  EXPECT_EQ(read(path("from")), "new");
  EXPECT_EQ(read(path("to")), "old");
  base::Result<bool> renamed = base::rename_no_replace(path("from"), path("free"));
  ASSERT_TRUE(renamed.ok());
  EXPECT_TRUE(*renamed);
  EXPECT_EQ(names(), (std::vector<std::string>{"free", "to"}));
  EXPECT_TRUE(base::rename_no_replace(path("gone"), path("other")).status().is_missing());
  // A plain rename does replace.
  ASSERT_TRUE(base::rename_path(path("free"), path("to")).ok());
  EXPECT_EQ(read(path("to")), "new");
}

TEST_F(FileTest, DirectoriesAreMadeWithTheirParentsAndRemovedWithoutFollowingLinks) {
  ASSERT_TRUE(base::make_directories(path("a/b/c")).ok());
  ASSERT_TRUE(base::make_directories(path("a/b/c")).ok());  // already there
  ASSERT_TRUE(base::write_file(path("a/b/c/f"), "x").ok());
  EXPECT_EQ(base::make_directories(path("a/b/c/f")).message(), std::strerror(EEXIST));
  EXPECT_EQ(base::make_directories(path("a/b/c/f/g")).message(), std::strerror(ENOTDIR));
  EXPECT_EQ(base::make_directories("").message(), std::strerror(ENOENT));

  // What a link inside the tree, or the tree itself as a link, points to stays.
  ASSERT_TRUE(base::make_directories(path("kept")).ok());
  ASSERT_TRUE(base::write_file(path("kept/f"), "x").ok());
  fs::create_directory_symlink(dir_ / "kept", dir_ / "a" / "b" / "link");
  fs::create_directory_symlink(dir_ / "kept", dir_ / "tree-link");
  base::Result<bool> removed = base::remove_tree(path("a"));
  ASSERT_TRUE(removed.ok());
  EXPECT_TRUE(*removed);
  removed = base::remove_tree(path("tree-link"));
  ASSERT_TRUE(removed.ok());
  EXPECT_TRUE(*removed);
  EXPECT_EQ(names(), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(read(path("kept/f")), "x");
  removed = base::remove_tree(path("a"));
  ASSERT_TRUE(removed.ok());
  EXPECT_FALSE(*removed);

  EXPECT_EQ(base::remove_empty_directory(path("kept")).message(), std::strerror(ENOTEMPTY));
  ASSERT_TRUE(base::remove_file(path("kept/f")).ok());
  EXPECT_TRUE(base::remove_empty_directory(path("kept")).ok());
}

TEST_F(FileTest, StatusAndIdentityTellFilesApart) {
  ASSERT_TRUE(base::write_file(path("f"), "abc").ok());
  ASSERT_EQ(::chmod(path("f").c_str(), 0640), 0);
  fs::create_symlink(dir_ / "f", dir_ / "link");
  base::Result<base::FileStatus> through_link = base::file_status(path("link"));
  ASSERT_TRUE(through_link.ok());
  EXPECT_EQ(through_link->kind, base::PathKind::kRegularFile);
  EXPECT_EQ(through_link->size, 3u);
  EXPECT_EQ(through_link->permissions, 0640u);
  // An identity is of the link itself, and a file renamed into a path gives
  // the path another identity.
  base::Result<base::FileIdentity> file = base::file_identity(path("f"));
  base::Result<base::FileIdentity> link = base::file_identity(path("link"));
  ASSERT_TRUE(file.ok() && link.ok());
  EXPECT_NE(file->inode, link->inode);
  ASSERT_TRUE(base::replace_file_atomically(path("f"), "abc", dir_.string()).ok());
  base::Result<base::FileIdentity> replaced = base::file_identity(path("f"));
  ASSERT_TRUE(replaced.ok());
  EXPECT_NE(*replaced, *file);
}

TEST_F(FileTest, WriteAtPatchesInPlaceAndKeepsTheOffset) {
  base::Result<base::UniqueFd> fd = base::create_for_append(path("f"));
  ASSERT_TRUE(fd.ok());
  EXPECT_EQ(base::create_for_append(path("f")).status().error_number(), EEXIST);
  base::UniqueFd rw(::open(path("f").c_str(), O_RDWR));
  ASSERT_TRUE(base::write_all(rw.get(), "0123456789").ok());
  ASSERT_TRUE(base::write_at(rw.get(), 2, "ab").ok());
  ASSERT_TRUE(base::write_all(rw.get(), "!").ok());
  ASSERT_TRUE(base::sync_file(rw.get()).ok());
  EXPECT_EQ(read(path("f")), "01ab456789!");
}

TEST_F(FileTest, DirectoriesAreFlushedOnlyWhenTheyAreThere) {
  EXPECT_TRUE(base::sync_directory(dir_.string()).ok());
  EXPECT_EQ(base::sync_directory(path("none")).message(), std::strerror(ENOENT));
  ASSERT_TRUE(base::write_file(path("file"), "x").ok());
  EXPECT_EQ(base::sync_directory(path("file")).message(), std::strerror(ENOTDIR));
  EXPECT_EQ(base::parent_directory("a/b/c"), "a/b");
  EXPECT_EQ(base::parent_directory("/c"), "/");
  EXPECT_EQ(base::parent_directory("c"), ".");
}

TEST(PathJoin, JoinsWithOneSeparatorExactlyAsGiven) {
  EXPECT_EQ(base::path_join("root", ".zr"), "root/.zr");
  EXPECT_EQ(base::path_join("root/", ".zr"), "root/.zr");
  EXPECT_EQ(base::path_join("/", "x"), "/x");
  EXPECT_EQ(base::path_join("", ".zr"), ".zr");
  EXPECT_EQ(base::path_join("a/./b", "../c"), "a/./b/../c");
}

}  // namespace
}  // namespace zr
