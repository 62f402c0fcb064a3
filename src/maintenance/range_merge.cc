#include "maintenance/range_merge.h"

#include <algorithm>
#include <array>
#include <functional>
#include <unordered_map>
#include <utility>

#include "base/file.h"
#include "index/rebuild_mark.h"
#include "maintenance/record_identity.h"
#include "maintenance/token_entry_identity.h"
#include "store/jsonl.h"
#include "store/oplog.h"
#include "store/record_archive_io.h"
#include "store/shard_appender.h"
#include "store/store_paths.h"
#include "token_index/chunk_files.h"

namespace zr::maintenance {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Calls fn(line, readable_after) for every line of every text, in order.
template <typename Fn>
void for_each_text_line(std::span<const std::string_view> texts, Fn&& fn) {
  for (std::string_view text : texts) store::for_each_line(text, fn);
}

// Lines in `texts`, about: room for this many identities saves growing the
// set on the way.
size_t line_count(std::span<const std::string_view> texts) {
  size_t lines = 0;
  for (std::string_view text : texts) lines += static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  return lines;
}

// Keeps the first document-index record of each identity among the lines
// it is given, in the form a merge copies, in the text `text_for` gives for
// its key.
class DocumentDeduplicator {
 public:
  DocumentDeduplicator(uint64_t& skipped, std::function<std::string&(std::string_view key)> text_for)
      : skipped_(skipped), text_for_(std::move(text_for)), reader_(kDocumentIdentity, MergeRoute::kQuick) {}

  void Add(std::string_view line, size_t readable_after) {
    const LineKind kind = reader_.Read(line, readable_after);
    if (kind == LineKind::kNotRecord) return;
    if (kind == LineKind::kNoIdentity || !store::names_safe_shard(reader_.key()[0]) || !held_.Insert(reader_)) {
      ++skipped_;
      return;
    }
    reader_.AppendCompact(text_for_(reader_.key()[0]));
  }

  void KeepMapped(base::MappedFile file) { held_.KeepMapped(std::move(file)); }
  void Reserve(size_t count) { held_.Reserve(count); }

 private:
  uint64_t& skipped_;
  std::function<std::string&(std::string_view key)> text_for_;
  IdentityReader reader_;
  HeldIdentities held_;
};

// One text per shard, found by the shard name's two bytes.
class TextsByShard {
 public:
  std::string& For(std::string_view key) {
    int32_t& slot = slot_of_name_[static_cast<unsigned char>(key[0]) * 256u + static_cast<unsigned char>(key[1])];
    if (slot < 0) {
      slot = static_cast<int32_t>(shards_.size());
      shards_.emplace_back(std::string(key.substr(0, 2)), std::string());
    }
    return shards_[static_cast<size_t>(slot)].second;
  }

  // The names and texts, in ascending order of name.
  void MoveTo(std::vector<std::string>& names, std::vector<std::string>& texts) {
    std::sort(shards_.begin(), shards_.end());
    for (auto& [name, text] : shards_) {
      names.push_back(std::move(name));
      texts.push_back(std::move(text));
    }
  }

 private:
  std::vector<int32_t> slot_of_name_ = std::vector<int32_t>(65536, -1);
  std::vector<std::pair<std::string, std::string>> shards_;
};

// Keeps the first token-index entry of each identity, in its stored form.
class EntryDeduplicator {
 public:
  explicit EntryDeduplicator(std::string& out) : out_(out), reader_(MergeRoute::kQuick) {}

  // The reader for walks that read entries themselves.
  EntryReader& reader() { return reader_; }

  // Keeps the entry the reader read last unless its identity was seen;
  // false when it was.
  bool KeepRead() {
    if (!held_.Insert(reader_)) return false;
    reader_.AppendLine(out_);
    return true;
  }

  // Reads one line; false when it is a valid entry seen before.
  bool Add(std::string_view line, size_t readable_after) {
    return !reader_.Read(line, readable_after) || KeepRead();
  }

 private:
  std::string& out_;
  EntryReader reader_;
  HeldEntryIdentities held_;
};

// The identities of a target's document-index records, read shard by shard
// as records name them. Layer files whose names are no shard's (which no
// writer makes, but a merge reads them too) are read at once.
class TargetDocumentIdentities {
 public:
  base::Status Open(std::string_view target) {
    return store::for_each_layer_file(target, store::kDocumentIndexLayer, [&](const std::string& path) {
      const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
      if (name.size() == 2 && store::names_safe_shard(name)) {
        unread_[slot_of(name)] = path;
        return base::Status();
      }
      outside_shards_ = true;
      return Read(path);
    });
  }

  // Notes that the shard `key` names has a file now, `path`, whose records
  // are read should a record of that shard come.
  void NoteFile(std::string_view key, std::string path) { unread_.try_emplace(slot_of(key), std::move(path)); }

  // True when no file of the target can hold a record of the shard `key`
  // names: it has no file of that shard, and no layer file outside them.
  bool HoldsNoFileFor(std::string_view key) const { return !outside_shards_ && !unread_.contains(slot_of(key)); }

  // Reads the identities of the shard `key` names, once, and counts that
  // shard as having a file from now on: the caller appends to it.
  base::Status ReadShardOf(std::string_view key) {
    std::string& path = unread_.try_emplace(slot_of(key)).first->second;
    if (path.empty()) return base::Status();
    return Read(std::exchange(path, std::string()));
  }

  // Inserts the reader's current key; false when it is already held.
  bool Insert(const IdentityReader& reader) { return held_.Insert(reader); }

 private:
  static size_t slot_of(std::string_view name) {
    return static_cast<unsigned char>(name[0]) * 256u + static_cast<unsigned char>(name[1]);
  }

  base::Status Read(const std::string& path) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, store::map_record_file(path));
    const std::string_view text = file.view();
    held_.KeepMapped(std::move(file));
    store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
      if (reader_.Read(line, readable_after) == LineKind::kIdentity) held_.Insert(reader_);
    });
    return base::Status();
  }

  IdentityReader reader_{kDocumentIdentity, MergeRoute::kQuick};
  HeldIdentities held_;
  bool outside_shards_ = false;
  // The path of each shard file the layer lists, by its name's two bytes;
  // emptied once read.
  std::unordered_map<size_t, std::string> unread_;
};

// The shard both the first and the last record of `text` name, when they
// name one and the text ends its last line; nothing otherwise.
std::optional<std::string> sole_shard(std::string_view text, IdentityReader& reader) {
  if (text.empty() || text.back() != '\n') return std::nullopt;
  const size_t first_end = text.find('\n');
  const size_t last_start = text.rfind('\n', text.size() - 2) + 1;  // npos + 1 is 0
  std::string shard;
  for (std::string_view line : {text.substr(0, first_end), text.substr(last_start, text.size() - 1 - last_start)}) {
    if (reader.Read(line, text.size() - (line.data() - text.data()) - line.size()) != LineKind::kIdentity ||
        !store::names_safe_shard(reader.key()[0])) {
      return std::nullopt;
    }
    const std::string_view name = reader.key()[0].substr(0, 2);
    if (shard.empty()) {
      shard = std::string(name);
    } else if (shard != name) {
      return std::nullopt;
    }
  }
  return shard;
}

// Marks the target's index stale before the first record goes in, as a
// store merge does. A mark already there stands: one absorb of a run set it,
// and setting it again would only flush it to disk again.
base::Status mark_index_stale(std::string_view target) {
  return index::has_rebuild_mark(target) ? base::Status() : index::set_rebuild_mark(target);
}

}  // namespace

size_t shard_range_of(std::string_view key, size_t ranges) {
  if (key.size() < 2 || ranges <= 1) return 0;
  const int high = hex_digit(key[0]);
  const int low = hex_digit(key[1]);
  if (high < 0 || low < 0) return 0;
  return static_cast<size_t>(high * 16 + low) * ranges / kMaxShardRanges;
}

base::Result<RecordTexts> split_store_records(std::string_view zr_dir, std::optional<std::string_view> tokenizer,
                                              size_t ranges) {
  if (ranges < 1 || ranges > kMaxShardRanges) {
    return base::Status::Error("ranges must be 1 to " + std::to_string(kMaxShardRanges) + ", not " +
                               std::to_string(ranges));
  }
  RecordTexts out;
  out.documents.resize(ranges);
  DocumentDeduplicator documents(out.skipped, [&](std::string_view key) -> std::string& {
    return out.documents[shard_range_of(key, ranges)];
  });
  ZR_RETURN_IF_ERROR(store::for_each_layer_file(zr_dir, store::kDocumentIndexLayer, [&](const std::string& path) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, store::map_record_file(path));
    store::for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
      documents.Add(line, readable_after);
    });
    documents.KeepMapped(std::move(file));
    return base::Status();
  }));
  if (tokenizer) {
    ZR_ASSIGN_OR_RETURN(std::vector<token_index::ChunkFile> chunks,
                        token_index::token_index_chunk_files(zr_dir, *tokenizer));
    EntryDeduplicator entries(out.tokens);
    ZR_RETURN_IF_ERROR(for_each_entry(chunks, entries.reader(), [&] {
      if (!entries.KeepRead()) ++out.skipped;
      return base::Status();
    }));
  }
  return out;
}

ShardTexts merge_document_texts(std::span<const std::string_view> texts) {
  ShardTexts out;
  TextsByShard by_shard;
  DocumentDeduplicator documents(out.skipped, [&](std::string_view key) -> std::string& { return by_shard.For(key); });
  documents.Reserve(line_count(texts));
  for_each_text_line(texts, [&](std::string_view line, size_t readable_after) { documents.Add(line, readable_after); });
  by_shard.MoveTo(out.names, out.texts);
  return out;
}

RecordTexts merge_token_texts(std::span<const std::string_view> texts) {
  RecordTexts out;
  EntryDeduplicator entries(out.tokens);
  for_each_text_line(texts, [&](std::string_view line, size_t readable_after) {
    if (!entries.Add(line, readable_after)) ++out.skipped;
  });
  return out;
}

base::Result<LayerMergeCounts> absorb_document_texts(std::string_view target,
                                                     std::span<const std::string_view> texts, bool merged) {
  TargetDocumentIdentities held;
  ZR_RETURN_IF_ERROR(held.Open(target));
  const std::string layer_dir = store::store_path(target, store::kDocumentIndexLayer);
  LayerMergeCounts counts;
  IdentityReader reader(kDocumentIdentity, MergeRoute::kQuick);
  store::ShardAppender appender(layer_dir);
  for (std::string_view text : texts) {
    const std::optional<std::string> shard = merged ? sole_shard(text, reader) : std::nullopt;
    if (shard && held.HoldsNoFileFor(*shard)) {
      // Records queued for other shards go first, so that every file gets
      // its records in the order of the texts.
      ZR_RETURN_IF_ERROR(appender.Flush());
      ZR_RETURN_IF_ERROR(mark_index_stale(target));
      const std::string path = base::path_join(layer_dir, *shard);
      ZR_RETURN_IF_ERROR(store::append_line(path, text));
      held.NoteFile(*shard, path);
      counts.added += static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
      continue;
    }
    base::Status status;
    store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
      if (!status.ok()) return;
      const LineKind kind = reader.Read(line, readable_after);
      if (kind == LineKind::kNotRecord) return;
      if (kind == LineKind::kNoIdentity || !store::names_safe_shard(reader.key()[0])) {
        ++counts.skipped;
        return;
      }
      status = held.ReadShardOf(reader.key()[0]);
      if (!status.ok()) return;
      if (!held.Insert(reader)) {
        ++counts.skipped;
        return;
      }
      if (counts.added++ == 0) status = mark_index_stale(target);
      if (!status.ok()) return;
      status = appender.Queued(reader.AppendCompact(appender.QueueFor(reader.key()[0])));
    });
    ZR_RETURN_IF_ERROR(status);
  }
  ZR_RETURN_IF_ERROR(appender.Flush());
  return counts;
}

base::Result<TokenMergeCounts> absorb_token_text(std::string_view target, std::string_view tokenizer,
                                                 std::string_view text) {
  return absorb_token_entries(target, tokenizer, MergeRoute::kQuick,
                              [&](EntryReader& reader, const std::function<base::Status()>& entry) {
                                base::Status status;
                                store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
                                  if (status.ok() && reader.Read(line, readable_after)) status = entry();
                                });
                                return status;
                              });
}

base::Status log_merge(std::string_view target, std::string_view source, const StoreMergeCounts& counts) {
  return store::oplog_append(target, "merge", merge_detail(source, counts));
}

}  // namespace zr::maintenance
