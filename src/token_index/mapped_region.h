// A whole file mapped from an open descriptor, read-only or writable.
#pragma once

#include <cstddef>

#include "base/status.h"

namespace zr::token_index {

class MappedRegion {
 public:
  MappedRegion() = default;
  MappedRegion(MappedRegion&& other) noexcept;
  MappedRegion& operator=(MappedRegion&& other) noexcept;
  MappedRegion(const MappedRegion&) = delete;
  MappedRegion& operator=(const MappedRegion&) = delete;
  ~MappedRegion();

  // Maps the first `size` bytes of `fd` (shared, so writes reach the file).
  // A size of 0 gives an empty region. Errors carry the system's message.
  static Result<MappedRegion> Map(int fd, size_t size, bool writable);

  const char* data() const { return data_; }
  char* data() { return data_; }
  size_t size() const { return size_; }

  // Writes changed pages back to the file and waits for it.
  Status Sync();

 private:
  void reset();

  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace zr::token_index
