#include "base/writeback_pacer.h"

#include "base/file.h"

namespace zr::base {

Status WritebackPacer::WriteAll(int fd, std::string_view bytes) {
  ZR_RETURN_IF_ERROR(write_all(fd, bytes));
  Wrote(fd, bytes.size());
  return Status();
}

void WritebackPacer::Wrote(int fd, size_t n) {
  written_ += n;
  if (written_ - started_ < kStep) return;
  // Only a hint; a failure here is found by the final flush.
  start_writeback(fd, started_, written_ - started_);
  started_ = written_;
}

}  // namespace zr::base
