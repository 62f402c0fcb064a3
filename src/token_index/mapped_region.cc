#include "token_index/mapped_region.h"

#include <sys/mman.h>

#include <cerrno>
#include <utility>

namespace zr::token_index {

MappedRegion::MappedRegion(MappedRegion&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedRegion& MappedRegion::operator=(MappedRegion&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedRegion::~MappedRegion() { reset(); }

void MappedRegion::reset() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

Result<MappedRegion> MappedRegion::Map(int fd, size_t size, bool writable) {
  MappedRegion region;
  if (size == 0) return region;
  int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
  void* p = ::mmap(nullptr, size, prot, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return Status::FromErrno(errno);
  region.data_ = static_cast<char*>(p);
  region.size_ = size;
  return region;
}

Status MappedRegion::Sync() {
  if (data_ != nullptr && ::msync(data_, size_, MS_SYNC) != 0) return Status::FromErrno(errno);
  return Status();
}

}  // namespace zr::token_index
