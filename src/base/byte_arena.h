// Copies of byte strings kept at stable addresses until the arena goes:
// views of them stay valid however much is added later.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace zr::base {

class ByteArena {
 public:
  // Copies `bytes` into the arena and returns a view of the copy.
  std::string_view Keep(std::string_view bytes) {
    if (bytes.empty()) return {};
    if (bytes.size() > left_) {
      // Blocks are never moved or resized; a string larger than a block
      // gets a block of its own.
      const size_t size = std::max(bytes.size(), kBlockSize);
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
    }
    char* copy = next_;
    std::memcpy(copy, bytes.data(), bytes.size());
    next_ += bytes.size();
    left_ -= bytes.size();
    return {copy, bytes.size()};
  }

 private:
  static constexpr size_t kBlockSize = size_t{1} << 20;

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
};

}  // namespace zr::base
