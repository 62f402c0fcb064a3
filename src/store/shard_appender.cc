#include "store/shard_appender.h"

#include <utility>

#include "base/file.h"
#include "store/jsonl.h"

namespace zr::store {

ShardAppender::ShardAppender(std::string layer_dir, size_t budget_bytes)
    : dir_(std::move(layer_dir)), budget_(budget_bytes), slot_of_name_(size_t{1} << 16, kUnused) {}

std::string& ShardAppender::QueueFor(std::string_view key) {
  const auto name = static_cast<uint16_t>(static_cast<unsigned char>(key[0]) << 8 | static_cast<unsigned char>(key[1]));
  int32_t& slot = slot_of_name_[name];
  if (slot == kUnused) {
    slot = static_cast<int32_t>(pending_.size());
    pending_.push_back(Pending{name, {}});
  }
  return pending_[static_cast<size_t>(slot)].bytes;
}

base::Status ShardAppender::Queued(size_t bytes) {
  pending_bytes_ += bytes;
  return pending_bytes_ >= budget_ ? Flush() : base::Status();
}

base::Status ShardAppender::Flush() {
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  for (const Pending& shard : pending) slot_of_name_[shard.name] = kUnused;
  pending_bytes_ = 0;
  for (const Pending& shard : pending) {
    if (shard.bytes.empty()) continue;
    const char name[2] = {static_cast<char>(shard.name >> 8), static_cast<char>(shard.name & 0xFF)};
    ZR_RETURN_IF_ERROR(store::append_line(base::path_join(dir_, std::string_view(name, 2)), shard.bytes));
  }
  return base::Status();
}

}  // namespace zr::store
