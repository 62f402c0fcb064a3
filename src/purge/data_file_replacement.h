// Writing the new content of a data file beside it and putting it in place.
//
// The new bytes go to a file with a fresh name, created exclusively in the
// data file's own directory (so the final rename stays on one file system
// and no existing file is ever truncated or overwritten, whatever its name),
// through an output buffer. Writeback to the disk is started as the file
// grows, so that the final flush finds little left to do. Commit gives the new file the data file's
// permission bits, flushes it to disk and renames it over the data file.
// Until then the data file is untouched; an abandoned replacement (an error,
// or destruction without Commit) removes the temporary file.
#pragma once

#include <string>
#include <string_view>

#include "base/file_replacement.h"
#include "base/status.h"
#include "purge/writeback.h"

namespace zr::purge {

class DataFileReplacement {
 public:
  // The output buffer's size: lines are gathered into writes of this size.
  static constexpr size_t kBufferSize = 8192;

  static base::Result<DataFileReplacement> Create(const std::string& data_file);

  DataFileReplacement(DataFileReplacement&& other) noexcept = default;
  DataFileReplacement& operator=(DataFileReplacement&&) = delete;

  // Appends `line` and a line feed.
  base::Status WriteLine(std::string_view line);
  // Flushes the buffer and the file, then closes it; the data file is still
  // untouched.
  base::Status Finish();
  // Renames the finished file over the data file.
  base::Status Commit();

  const std::string& temp_path() const { return file_.temp_path(); }

 private:
  DataFileReplacement(base::FileReplacement file, mode_t mode) : file_(std::move(file)), mode_(mode) {}
  base::Status Drain();
  base::Status Write(std::string_view bytes);

  base::FileReplacement file_;
  mode_t mode_ = 0;
  std::string buffer_;
  WritebackPacer writeback_;
};

}  // namespace zr::purge
