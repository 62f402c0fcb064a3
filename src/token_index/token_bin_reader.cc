#include "token_index/token_bin_reader.h"

#include <algorithm>
#include <cstring>

#include "base/coding.h"
#include "base/file.h"
#include "base/file_system.h"
#include "token_index/token_bin_format.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

namespace {

base::Status damaged(const char* what) {
  return base::Status::Error(std::string("token binary index damaged: ") + what);
}

}  // namespace

std::optional<store::HashKey> source_key(std::string_view source) { return store::decode_hash_key(source); }

std::vector<store::HashKey> source_keys(const std::vector<std::string>& sources) {
  std::vector<store::HashKey> keys;
  for (const std::string& source : sources) {
    if (std::optional<store::HashKey> key = source_key(source)) keys.push_back(*key);
  }
  return keys;
}

base::Result<std::optional<TokenBinIndex>> TokenBinIndex::Open(std::string_view zr_dir, std::string_view tokenizer) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  return OpenFile(binary_index_path(zr_dir, tokenizer));
}

base::Result<std::optional<TokenBinIndex>> TokenBinIndex::OpenFile(const std::string& path) {
  base::Result<base::FileToMap> file = base::FileToMap::Open(path);
  if (!file.ok()) {
    // Absence is for the caller to judge (a scan instead, or its own error).
    if (file.status().is_missing()) return std::optional<TokenBinIndex>();
    return file.status().WithContext("opening " + path);
  }
  const uint64_t size = file->size();
  if (size < kHeaderSize) {
    return base::Status::Error("token binary index file too small: " + std::to_string(size) + " bytes");
  }
  TokenBinIndex index;
  ZR_ASSIGN_OR_RETURN(index.map_, file->Map());
  const char* base = index.map_.data();
  if (std::memcmp(base, kTokenBinMagic.data(), kTokenBinMagic.size()) != 0) {
    return base::Status::Error("token binary index magic mismatch");
  }
  uint32_t version = base::decode_fixed32(base + kVersionAt);
  if (version != kTokenBinVersion) {
    return base::Status::Error("unsupported token binary index version: " + std::to_string(version));
  }
  index.path_ = path;
  index.entry_count_ = base::decode_fixed32(base + kEntryCountAt);
  index.entry_table_ = base::decode_fixed32(base + kEntryTableAt);
  index.source_table_ = base::decode_fixed32(base + kSourceTableAt);
  index.fanout_table_ = base::decode_fixed32(base + kFanoutTableAt);
  // 32-bit values, so none of these sums can wrap.
  if (index.entry_table_ + kEntryRecordSize * uint64_t{index.entry_count_} > size) {
    return damaged("entry table lies outside the file");
  }
  if (index.source_table_ > index.fanout_table_ || index.fanout_table_ > size) {
    return damaged("source table lies outside the file");
  }
  if (index.fanout_table_ + kFanoutSize > size) return damaged("fanout table lies outside the file");
  return std::optional<TokenBinIndex>(std::move(index));
}

bool TokenBinIndex::IsCurrent() const {
  base::Result<base::FileStatus> index_status = base::file_status(path_);
  if (!index_status.ok()) return false;
  const base::FileTime built = index_status->modified;

  // The merged directory is the index file's sibling named without ".bin".
  size_t slash = path_.rfind('/');
  std::string_view dir = slash == std::string::npos ? std::string_view() : std::string_view(path_).substr(0, slash);
  std::string_view name =
      slash == std::string::npos ? std::string_view(path_) : std::string_view(path_).substr(slash + 1);
  if (name.size() <= 15 || !name.starts_with(kTokenIndexPrefix) || !name.ends_with(".bin")) return false;
  std::string merged_name(name.substr(0, name.size() - 4));
  std::string merged_dir = dir.empty() ? merged_name : base::path_join(dir, merged_name);

  base::Result<std::vector<base::DirEntry>> items = base::list_directory(merged_dir);
  // Nothing to compare with; but a merged directory that is there and cannot
  // be read is left to the chunk-file scan, which reports why.
  if (!items.ok()) return items.status().is_missing();
  for (const base::DirEntry& item : *items) {
    if (item.kind != base::PathKind::kRegularFile) continue;
    base::Result<base::FileStatus> item_status = base::file_status(base::path_join(merged_dir, item.name));
    if (!item_status.ok()) continue;
    if (item_status->modified >= built) return false;
  }
  return true;
}

std::optional<TokenBinEntry> TokenBinIndex::entry(uint64_t number) const {
  if (number >= entry_count_) return std::nullopt;
  uint64_t at = entry_table_ + kEntryRecordSize * number;
  if (at + kEntryRecordSize > map_.size()) return std::nullopt;
  const char* record = map_.data() + at;
  TokenBinEntry out;
  out.chunk = base::decode_fixed16(record + kEntryChunkAt);
  out.offset = base::decode_fixed32(record + kEntryOffsetAt);
  out.length = base::decode_fixed32(record + kEntryLengthAt);
  out.revoked = record[kEntryFlagAt] != 0;
  return out;
}

base::Result<std::vector<uint32_t>> TokenBinIndex::LookupSources(const std::vector<store::HashKey>& keys) const {
  const char* base = map_.data();
  const char* fanout = base + fanout_table_;
  std::vector<uint32_t> found;
  for (const store::HashKey& key : keys) {
    uint64_t start = base::decode_fixed64(fanout + 8 * key[0]);
    if (start == 0) continue;
    uint64_t end = fanout_table_;
    for (int b = key[0] + 1; b < 256; ++b) {
      uint64_t next = base::decode_fixed64(fanout + 8 * b);
      if (next != 0) {
        end = next;
        break;
      }
    }
    if (start < source_table_ || end > fanout_table_ || start > end) {
      return damaged("fanout table points outside the source table");
    }
    for (uint64_t pos = start; pos + kSourceRecordHeader <= end;) {
      const char* record = base + pos;
      int order = std::memcmp(record, key.data(), key.size());
      uint64_t count = base::decode_fixed16(record + kSourceCountInRecord);
      uint64_t record_end = pos + kSourceRecordHeader + 4 * count;
      if (order > 0) break;
      if (order < 0) {
        pos = record_end;
        continue;
      }
      if (record_end > end) return damaged("source record runs past its table");
      for (uint64_t i = 0; i < count; ++i) {
        found.push_back(base::decode_fixed32(record + kSourceRecordHeader + 4 * i));
      }
      break;
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

std::string TokenBinIndex::RevokedBitMask() const {
  std::string mask((uint64_t{entry_count_} + 7) / 8, '\0');
  const char* flag = map_.data() + entry_table_ + kEntryFlagAt;
  for (uint32_t i = 0; i < entry_count_; ++i, flag += kEntryRecordSize) {
    if (*flag != 0) mask[i >> 3] = static_cast<char>(mask[i >> 3] | (1 << (i & 7)));
  }
  return mask;
}

}  // namespace zr::token_index
