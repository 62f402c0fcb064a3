#include "tracking/track_batch.h"

#include <array>

#include "json/parse.h"
#include "store/content_hash.h"
#include "store/jsonl.h"
#include "store/store_paths.h"
#include "token_index/pid_file.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"
#include "tracking/document_record.h"

namespace zr::tracking {

void LineBatch::add(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find('\n') != std::string_view::npos) {
    add_unreadable();
    return;
  }
  lines_.push_back(Span{buffer_.size(), line.size()});
  buffer_.append(line);
  // The line end a file would have: a parser reading past the line meets it.
  buffer_.push_back('\n');
}

void LineBatch::add_unreadable() { lines_.push_back(Span{buffer_.size(), kUnreadable}); }

std::optional<std::string_view> LineBatch::text(size_t i) const {
  const Span& span = lines_[i];
  if (span.size == kUnreadable) return std::nullopt;
  return std::string_view(buffer_).substr(span.offset, span.size);
}

size_t LineBatch::readable_after(size_t i) const {
  const Span& span = lines_[i];
  return span.size == kUnreadable ? 0 : buffer_.size() - span.offset - span.size;
}

namespace {

constexpr size_t kShards = 256;

// A line hash's shard: the byte its first two hex characters spell.
size_t shard_of(std::string_view line_hash) {
  auto nibble = [](char c) { return static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10); };
  return nibble(line_hash[0]) << 4 | nibble(line_hash[1]);
}

// The records of one batch, gathered per file until they are written.
class BatchRecords {
 public:
  BatchRecords(std::string_view file, const std::vector<std::string>& sources,
               std::optional<std::string_view> tokenizer)
      : document_frame_(file, sources, "track") {
    if (tokenizer) entry_frame_.emplace(sources, *tokenizer, false);
  }

  size_t bytes() const { return bytes_; }

  void add(std::string_view line_hash, std::optional<uint64_t> token_count) {
    std::string& shard = shards_[shard_of(line_hash)];
    const size_t before = shard.size();
    document_frame_.append_hex_line(shard, line_hash);
    bytes_ += shard.size() - before;
    if (entry_frame_ && token_count) {
      const size_t entries_before = entries_.size();
      entry_frame_->append_line(entries_, *token_count);
      bytes_ += entries_.size() - entries_before;
    }
  }

  // One append per file: the shards in order, then the token entries.
  base::Status write(std::string_view zr_dir, std::optional<std::string_view> tokenizer) {
    for (size_t shard = 0; shard < kShards; ++shard) {
      std::string& lines = shards_[shard];
      if (lines.empty()) continue;
      const std::string name = store::shard_file_name(static_cast<uint8_t>(shard));
      ZR_ASSIGN_OR_RETURN(std::string path, store::shard_path(zr_dir, store::kDocumentIndexLayer, name));
      ZR_RETURN_IF_ERROR(store::append_line(path, lines));
      lines.clear();
    }
    if (!entries_.empty()) {
      ZR_RETURN_IF_ERROR(token_index::token_index_append_pid_lines(zr_dir, *tokenizer, entries_));
      entries_.clear();
    }
    bytes_ = 0;
    return {};
  }

 private:
  DocumentLineFrame document_frame_;
  std::optional<token_index::EntryLineFrame> entry_frame_;
  std::array<std::string, kShards> shards_;
  std::string entries_;
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
  BatchRecords records(file, sources, tokenizer);
  json::Parser parser;
  std::string compact;
  size_t gathered = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::optional<std::string_view> text = lines.text(i);
    if (!text || !parser.Canonicalize(*text, lines.readable_after(i), compact)) continue;
    store::sha256_hex_into(compact, hashes.set(i));
    records.add(hashes.hash(i), token_counts.empty() ? std::nullopt : token_counts[i]);
    if (++gathered >= bounds.max_lines || records.bytes() >= bounds.max_record_bytes) {
      ZR_RETURN_IF_ERROR(records.write(zr_dir, tokenizer));
      gathered = 0;
    }
  }
  ZR_RETURN_IF_ERROR(records.write(zr_dir, tokenizer));
  return hashes;
}

}  // namespace zr::tracking
