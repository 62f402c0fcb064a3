#include "removal/writeback.h"

#include <fcntl.h>

namespace zr::removal {

void WritebackPacer::Wrote(int fd, size_t n) {
  written_ += n;
  if (written_ - started_ < kStep) return;
  // Only a hint; a failure here is found by the final flush.
  (void)::sync_file_range(fd, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                          SYNC_FILE_RANGE_WRITE);
  started_ = written_;
}

}  // namespace zr::removal
