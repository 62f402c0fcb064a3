#include "index/binary_index_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "base/coding.h"
#include "base/file.h"
#include "index/binary_index_reader.h"

namespace zr::index {

namespace {

// Records are streamed through a buffer of about this size.
constexpr size_t kFlushThreshold = size_t{1} << 20;

void append_record(std::string& out, const IndexEntry& entry) {
  out.append(reinterpret_cast<const char*>(entry.key.data()), entry.key.size());
  const size_t size_at = out.size();
  base::put_fixed16(out, 0);
  const size_t m = encode_payload(out, entry.refs);
  base::encode_fixed16(out.data() + size_at, static_cast<uint16_t>(m));
}

}  // namespace

size_t encode_payload(std::string& out, const std::vector<Ref>& refs) {
  const size_t start = out.size();
  const size_t shard_count =
      std::count_if(refs.begin(), refs.end(), [](const Ref& ref) { return std::holds_alternative<ShardRef>(ref); });
  const size_t shards_kept = shard_refs_kept(shard_count);
  size_t token_budget = token_ref_room(shard_count);
  size_t shards_written = 0;
  bool tokens_full = false;
  for (const Ref& ref : refs) {
    if (const auto* shard = std::get_if<ShardRef>(&ref)) {
      if (shards_written == shards_kept) continue;
      ++shards_written;
      out.push_back(static_cast<char>(kShardRefTag));
      out.push_back(static_cast<char>(shard->shard));
      continue;
    }
    const auto& token = std::get<TokenRef>(ref);
    if (token.tokenizer.size() > kMaxTokenizerNameSize) continue;
    const size_t size = token_ref_size(token.tokenizer);
    // Keep a prefix of the token refs, so the ones kept are the first ones.
    if (tokens_full || size > token_budget) {
      tokens_full = true;
      continue;
    }
    token_budget -= size;
    out.push_back(static_cast<char>(kTokenRefTag));
    out.push_back(static_cast<char>(token.tokenizer.size()));
    out.append(token.tokenizer);
    base::put_fixed16(out, token.chunk);
    base::put_fixed32(out, token.offset);
    base::put_fixed32(out, token.length);
  }
  return out.size() - start;
}

std::string encode_line_offsets(std::string_view data) {
  std::string out;
  if (data.empty()) return out;
  base::put_fixed32(out, 0);  // the count, filled in below
  base::put_fixed32(out, 0);  // every non-empty file has a line at 0
  uint32_t count = 1;
  const char* begin = data.data();
  const char* end = begin + data.size();
  for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))) != nullptr;) {
    ++p;
    if (p == end) break;  // a final "\n" starts no line
    base::put_fixed32(out, static_cast<uint32_t>(p - begin));
    ++count;
  }
  base::encode_fixed32(out.data(), count);
  return out;
}

base::Result<BinaryIndexWriter> BinaryIndexWriter::Create(std::string_view zr_dir) {
  std::string target = binary_index_file_path(zr_dir);
  base::Result<base::FileReplacement> file =
      base::FileReplacement::Create(target, store::store_dir(zr_dir), kBinaryIndexTempPrefix);
  if (!file.ok()) return file.status().WithContext("creating " + target);
  return BinaryIndexWriter(std::move(file).value());
}

BinaryIndexWriter::BinaryIndexWriter(BinaryIndexWriter&& other) noexcept
    : file_(std::move(other.file_)), stage_(std::exchange(other.stage_, Stage::kAbandoned)) {}

base::Status BinaryIndexWriter::CheckStage(bool allowed, std::string_view operation) const {
  if (allowed) return base::Status();
  return base::Status::InternalFault("binary index writer: " + std::string(operation) + " called out of order");
}

base::Status BinaryIndexWriter::Abandon(base::Status status) {
  file_.Abandon();
  stage_ = Stage::kAbandoned;
  return status;
}

base::Result<uint32_t> BinaryIndexWriter::WriteEntries(std::span<const IndexEntry> entries) {
  ZR_RETURN_IF_ERROR(CheckStage(stage_ == Stage::kCreated, "WriteEntries"));
  if (entries.size() > std::numeric_limits<uint32_t>::max()) {
    return Abandon(base::Status::Error("too many entries for the binary index: " + std::to_string(entries.size())));
  }
  const auto count = static_cast<uint32_t>(entries.size());

  std::vector<const IndexEntry*> sorted;
  sorted.reserve(entries.size());
  for (const IndexEntry& entry : entries) sorted.push_back(&entry);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const IndexEntry* a, const IndexEntry* b) { return a->key < b->key; });

  std::string out;
  out.reserve(kFlushThreshold + kMaxPayloadSize + kRecordHeaderSize);
  out.append(kBinaryIndexMagic);
  base::put_fixed32(out, count);
  base::put_fixed32(out, 0);
  base::put_fixed64(out, 0);  // T, known only once every record has been laid out

  // Each bucket starts at the first record whose key has that first byte.
  std::array<uint64_t, kFanoutSlots> fanout{};
  uint64_t offset = kHeaderSize;
  int previous_first = -1;
  for (const IndexEntry* entry : sorted) {
    const uint8_t first = entry->key[0];
    if (first != previous_first) fanout[first] = offset;
    previous_first = first;
    const size_t record_start = out.size();
    append_record(out, *entry);
    offset += out.size() - record_start;
    if (out.size() >= kFlushThreshold) {
      if (base::Status s = file_.Write(out); !s.ok()) return Abandon(s);
      out.clear();
    }
  }
  const uint64_t fanout_offset = offset;
  for (uint64_t slot : fanout) base::put_fixed64(out, slot);
  if (base::Status s = file_.Write(out); !s.ok()) return Abandon(s);

  char t[8];
  base::encode_fixed64(t, fanout_offset);
  if (base::Status s = base::write_at(file_.fd(), kFanoutOffsetField, std::string_view(t, sizeof t)); !s.ok()) {
    return Abandon(s);
  }

  // Read back what a query would read: a file that does not open as an
  // index, or with another count, must never replace a good one.
  base::Result<std::optional<BinaryIndex>> reopened = BinaryIndex::OpenPath(file_.temp_path());
  if (!reopened.ok()) return Abandon(reopened.status());
  if (!reopened->has_value()) return Abandon(base::Status::Error("failed to re-open binary index for verification"));
  const uint32_t stored = (*reopened)->view().stored_entry_count();
  if (stored != count) {
    return Abandon(base::Status::Error("verification failed: expected " + std::to_string(count) + " entries, stored " +
                                       std::to_string(stored)));
  }
  stage_ = Stage::kEntriesWritten;
  return count;
}

base::Status BinaryIndexWriter::AppendLineOffsets(const std::string& data_file) {
  ZR_RETURN_IF_ERROR(CheckStage(stage_ == Stage::kEntriesWritten, "AppendLineOffsets"));
  base::Result<base::PathKind> data_file_kind = base::path_kind(data_file);
  if (!data_file_kind.ok()) return Abandon(data_file_kind.status());
  if (*data_file_kind != base::PathKind::kMissing) {
    base::Result<base::MappedFile> data = base::MappedFile::Open(data_file);
    if (!data.ok()) return Abandon(data.status());
    if (base::Status s = file_.Write(encode_line_offsets(data->view())); !s.ok()) return Abandon(s);
  }
  stage_ = Stage::kTableAppended;
  return base::Status();
}

base::Status BinaryIndexWriter::Commit() {
  ZR_RETURN_IF_ERROR(CheckStage(stage_ == Stage::kEntriesWritten || stage_ == Stage::kTableAppended, "Commit"));
  // The temporary file was created private to this user; the index gets the
  // mode any newly created file would get.
  if (base::Status s = file_.Finish(base::new_file_mode()); !s.ok()) return Abandon(s);
  if (base::Status s = file_.Commit(); !s.ok()) return Abandon(s);
  stage_ = Stage::kCommitted;
  return base::Status();
}

base::Result<uint32_t> binary_index_write(std::string_view zr_dir, std::span<const IndexEntry> entries,
                                          std::string_view line_table_file) {
  ZR_ASSIGN_OR_RETURN(BinaryIndexWriter writer, BinaryIndexWriter::Create(zr_dir));
  ZR_ASSIGN_OR_RETURN(const uint32_t count, writer.WriteEntries(entries));
  if (!line_table_file.empty()) ZR_RETURN_IF_ERROR(writer.AppendLineOffsets(std::string(line_table_file)));
  ZR_RETURN_IF_ERROR(writer.Commit());
  return count;
}

}  // namespace zr::index
