#include "purge/writeback.h"

#include <fcntl.h>

#include "base/file.h"

namespace zr::purge {

base::Status WritebackPacer::WriteAll(int fd, std::string_view bytes) {
  ZR_RETURN_IF_ERROR(base::write_all(fd, bytes));
  Wrote(fd, bytes.size());
  return base::Status();
}

void WritebackPacer::Wrote(int fd, size_t n) {
  written_ += n;
  if (written_ - started_ < kStep) return;
  // Only a hint; a failure here is found by the final flush.
  (void)::sync_file_range(fd, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                          SYNC_FILE_RANGE_WRITE);
  started_ = written_;
}

}  // namespace zr::purge
