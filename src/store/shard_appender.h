// Lines queued per shard of one layer directory and appended in bulk.
//
// A store merge sends every copied record to the shard named by the first
// two bytes of its key. Finding the buffer by those two bytes (one table
// slot per possible name) costs nothing per record, where a path per record
// would cost a string build and a hash lookup. The written result is as
// with BatchedAppender: each flush appends a shard's queued lines, in the
// order they were queued, with one write-all call, shards in the order they
// were first used since the last flush.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::store {

class ShardAppender {
 public:
  // Everything queued is written out once this many bytes are pending.
  explicit ShardAppender(std::string layer_dir, size_t budget_bytes = size_t{8} << 20);

  // The queue of the shard named by the first two bytes of `key` (a key
  // that store::names_safe_shard accepts). Append whole lines to it, then
  // report their size with Queued.
  std::string& QueueFor(std::string_view key);
  // Counts `bytes` newly queued and flushes when the budget is reached.
  base::Status Queued(size_t bytes);
  // Appends every queued line (files are created if missing, the layer
  // directory never). The first failing shard ends the flush with the
  // system's message; shards written before it stay written.
  base::Status Flush();

 private:
  struct Pending {
    uint16_t name = 0;  // the shard name's two bytes
    std::string bytes;
  };
  static constexpr int32_t kUnused = -1;

  std::string dir_;
  size_t budget_;
  size_t pending_bytes_ = 0;
  std::vector<Pending> pending_;
  std::vector<int32_t> slot_of_name_;  // 65536 entries: index into pending_, or kUnused
};

}  // namespace zr::store
