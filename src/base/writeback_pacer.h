// Starting the disk writeback of a file while it is still being written.
//
// A file that must reach the disk before it is put in place (fsync before
// rename) otherwise has all its bytes written out by that final flush, while
// the caller waits. Starting writeback every few megabytes lets the disk
// work alongside the computation; the final flush still guarantees the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace zr::base {

class WritebackPacer {
 public:
  static constexpr uint64_t kStep = 8 * 1024 * 1024;

  // Writes all of `bytes` to `fd`; starts writeback of the bytes not yet
  // handed to the disk once a step's worth has gathered.
  Status WriteAll(int fd, std::string_view bytes);

 private:
  void Wrote(int fd, size_t n);

  uint64_t written_ = 0;
  uint64_t started_ = 0;  // writeback started up to here
};

}  // namespace zr::base
