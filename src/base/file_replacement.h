// Replacing a file as a whole, so that readers see the old bytes or all of
// the new ones, never a mixture or a half-written file.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/status.h"

namespace zr::base {

// The process's file-creation mask, read without changing it (changing it,
// even for a moment, would affect files other threads create meanwhile).
mode_t process_umask();

// The permission bits a file created with mode 0666 gets.
mode_t new_file_mode();

// Whether a replacement is flushed to stable storage before it is renamed.
// Only derived files that a rebuild restores may skip it: after a power cut
// such a file can come back empty, after a crash of the writer never.
enum class Flush { kToDisk, kNone };

// The name prefix of the temporary files of replace_file_atomically's
// callers, unless they pass their own.
inline constexpr std::string_view kReplacementTempPrefix = ".tmp-";

// A hidden temporary name prefix for a file written beside `target` among
// the user's own files, that tells where a leftover came from: "." + the
// target's name + `infix`, the name shortened (at a character boundary) so
// that the unique part still fits a file name.
std::string temp_prefix_beside(std::string_view target, std::string_view infix);

// A new file written beside `target` under a unique name and renamed over it
// once complete. The steps: Create, Write as often as needed, Finish (mode,
// flush to stable storage, close), any checks on temp_path(), Commit (the
// rename). Until Commit the target is untouched; a replacement that fails or
// is dropped before Commit removes its temporary file.
class FileReplacement {
 public:
  // Creates "<temp_dir>/<temp_prefix>XXXXXX" (exclusively, so nothing that
  // exists is ever truncated). `temp_dir` must be on the target's file
  // system and should be a place no reader scans. Errors carry the system's
  // message only.
  static Result<FileReplacement> Create(std::string target, const std::string& temp_dir, std::string_view temp_prefix);

  FileReplacement(FileReplacement&& other) noexcept;
  FileReplacement& operator=(FileReplacement&&) = delete;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement() { Abandon(); }

  // Appends to the temporary file.
  Status Write(std::string_view data) { return write_all(fd_.get(), data); }
  // Asks the system to start writing what was written so far to storage
  // without waiting for it, so that a later Finish, after other work, waits
  // less. Only a hint: Finish still flushes and reports any failure.
  void StartFlush();
  // Gives the file `mode` (it starts private to this user), flushes it to
  // stable storage unless told otherwise, and closes it.
  Status Finish(mode_t mode, Flush flush = Flush::kToDisk);
  // Renames the finished file over the target and, when it was flushed,
  // flushes the target's directory too, so that the replacement survives a
  // power cut.
  Status Commit();
  // Closes and removes the temporary file now; nothing is left to commit.
  void Abandon();

  int fd() const { return fd_.get(); }
  const std::string& temp_path() const { return temp_path_; }
  const std::string& target() const { return target_; }

 private:
  friend class ReplacementBatch;

  FileReplacement(std::string target, std::string temp_path, UniqueFd fd)
      : target_(std::move(target)), temp_path_(std::move(temp_path)), fd_(std::move(fd)) {}

  // The rename of Commit, without the directory's flush.
  Status Rename();

  std::string target_;
  std::string temp_path_;  // empty once committed or abandoned
  UniqueFd fd_;
  bool flushed_ = false;  // Finish flushed the file to stable storage
};

// Several files replaced together. Each replacement is finished (written and
// flushed) before it joins; Commit then renames them one right after the
// other, so that a crash can leave some targets new and others old only
// within that run of renames, not while any of the new files is still being
// written. Replacements not committed are removed with the batch.
class ReplacementBatch {
 public:
  // Gives `replacement` `mode`, flushes and closes it, and queues it.
  Status Add(FileReplacement replacement, mode_t mode);
  // Renames every queued file over its target, in the order added, then
  // flushes each of their directories once. A failed rename ends the run:
  // the targets before it are replaced, the rest not.
  Status Commit();

 private:
  std::vector<FileReplacement> finished_;
};

// Replaces `target` with `data` in one call: a FileReplacement in
// `temp_dir`, with the mode of a new file.
Status replace_file_atomically(const std::string& target, std::string_view data, const std::string& temp_dir,
                               std::string_view temp_prefix = kReplacementTempPrefix, Flush flush = Flush::kToDisk);

}  // namespace zr::base
