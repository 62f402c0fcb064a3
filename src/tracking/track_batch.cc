#include "tracking/track_batch.h"

#include <algorithm>
#include <array>
#include <memory>

#include "json/parse.h"
#include "store/content_hash.h"
#include "store/jsonl.h"
#include "store/store_paths.h"
#include "token_index/pid_file.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"
#include "tracking/document_record.h"

namespace zr::tracking {

std::optional<std::string_view> LineBatch::text(size_t i) const {
  const Span& span = lines_[i];
  if (span.size == kUnreadable) return std::nullopt;
  std::string_view line(span.data, span.size);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find('\n') != std::string_view::npos) return std::nullopt;
  return line;
}

namespace {

constexpr size_t kShards = 256;

// A line hash's shard: the byte its first two hex characters spell.
size_t shard_of(std::string_view line_hash) {
  auto nibble = [](char c) { return static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10); };
  return nibble(line_hash[0]) << 4 | nibble(line_hash[1]);
}

// The records of one batch, gathered until they are written. Every
// document-index line of a call has the same size, so the shards' lines are
// laid out in one buffer of exactly their size, each shard's lines together
// and in line order: memory is taken once per batch, never grown.
class BatchRecords {
 public:
  BatchRecords(const LineHashes& hashes, std::string_view file, const std::vector<std::string>& sources,
               std::optional<std::string_view> tokenizer)
      : hashes_(hashes),
        document_frame_(file, sources, "track"),
        document_line_size_(document_frame_.hex_line_size(LineHashes::kHexLength)) {
    if (tokenizer) entry_frame_.emplace(sources, *tokenizer, false);
  }

  size_t bytes() const { return bytes_; }

  // Line `line` (its hash set) goes into the batch, with its token entry
  // when it has a count and the call a tokenizer.
  void add(size_t line, std::optional<uint64_t> token_count) {
    pending_.push_back(Pending{line, entry_frame_ ? token_count : std::nullopt});
    bytes_ += document_line_size_;
    if (pending_.back().token_count) bytes_ += entry_frame_->max_line_size();
  }

  // One append per file: the shards in order, then the token entries.
  base::Status write(std::string_view zr_dir, std::optional<std::string_view> tokenizer) {
    if (pending_.empty()) return {};
    std::array<size_t, kShards + 1> shard_starts{};
    for (const Pending& record : pending_) ++shard_starts[shard_of(hashes_.hash(record.line)) + 1];
    for (size_t shard = 0; shard < kShards; ++shard) {
      shard_starts[shard + 1] = shard_starts[shard] + shard_starts[shard + 1] * document_line_size_;
    }
    auto documents = std::make_unique_for_overwrite<char[]>(shard_starts[kShards]);
    std::array<size_t, kShards> shard_ends;
    std::copy(shard_starts.begin(), shard_starts.end() - 1, shard_ends.begin());
    std::string entries;
    for (const Pending& record : pending_) {
      const std::string_view hash = hashes_.hash(record.line);
      size_t& end = shard_ends[shard_of(hash)];
      document_frame_.write_hex_line(documents.get() + end, hash);
      end += document_line_size_;
      if (record.token_count) {
        if (entries.empty()) entries.reserve(pending_.size() * entry_frame_->max_line_size());
        entry_frame_->append_line(entries, *record.token_count);
      }
    }
    for (size_t shard = 0; shard < kShards; ++shard) {
      if (shard_ends[shard] == shard_starts[shard]) continue;
      const std::string name = store::shard_file_name(static_cast<uint8_t>(shard));
      ZR_ASSIGN_OR_RETURN(std::string path, store::shard_path(zr_dir, store::kDocumentIndexLayer, name));
      ZR_RETURN_IF_ERROR(store::append_line(
          path, std::string_view(documents.get() + shard_starts[shard], shard_ends[shard] - shard_starts[shard])));
    }
    if (!entries.empty()) ZR_RETURN_IF_ERROR(token_index::token_index_append_pid_lines(zr_dir, *tokenizer, entries));
    pending_.clear();
    bytes_ = 0;
    return {};
  }

 private:
  struct Pending {
    size_t line;
    std::optional<uint64_t> token_count;
  };

  const LineHashes& hashes_;
  DocumentLineFrame document_frame_;
  const size_t document_line_size_;
  std::optional<token_index::EntryLineFrame> entry_frame_;
  std::vector<Pending> pending_;
  size_t bytes_ = 0;
};

}  // namespace

base::Result<LineHashes> track_lines(const LineBatch& lines, const std::vector<std::optional<uint64_t>>& token_counts,
                                     std::string_view file, const std::vector<std::string>& sources,
                                     std::string_view zr_dir, std::optional<std::string_view> tokenizer,
                                     BatchBounds bounds) {
  // Checked first: once a record is written there is no undo.
  if (tokenizer) ZR_RETURN_IF_ERROR(token_index::check_tokenizer_name(*tokenizer));
  if (!token_counts.empty() && token_counts.size() != lines.size()) {
    return base::Status::InternalFault("token counts do not match the lines");
  }
  LineHashes hashes(lines.size());
  BatchRecords records(hashes, file, sources, tokenizer);
  json::Parser parser;
  std::string compact;
  size_t gathered = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::optional<std::string_view> text = lines.text(i);
    // No bytes after a borrowed line may be read: the parser copies the
    // line when it needs room after it.
    if (!text || !parser.Canonicalize(*text, 0, compact)) continue;
    store::sha256_hex_into(compact, hashes.set(i));
    records.add(i, token_counts.empty() ? std::nullopt : token_counts[i]);
    if (++gathered >= bounds.max_lines || records.bytes() >= bounds.max_record_bytes) {
      ZR_RETURN_IF_ERROR(records.write(zr_dir, tokenizer));
      gathered = 0;
    }
  }
  ZR_RETURN_IF_ERROR(records.write(zr_dir, tokenizer));
  return hashes;
}

}  // namespace zr::tracking
