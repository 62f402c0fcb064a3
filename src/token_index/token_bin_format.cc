#include "token_index/token_bin_format.h"

#include <algorithm>
#include <cstring>

#include "base/coding.h"

namespace zr::token_index {

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

base::Status limit_exceeded(const std::string& what) {
  return base::Status::Error("token binary index limit exceeded: " + what);
}

std::string hex_of(const store::HashKey& key) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : key) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

base::Status check_entries(const std::vector<EntryRef>& entries) {
  if (entries.size() >= kFourGiB) return limit_exceeded(std::to_string(entries.size()) + " entries");
  for (const EntryRef& e : entries) {
    if (e.chunk_number > kMaxChunkNumber) {
      return limit_exceeded("chunk number " + std::to_string(e.chunk_number) + " is above 65535");
    }
    if (e.offset >= kFourGiB || e.length >= kFourGiB) {
      return limit_exceeded("a line of chunk " + std::to_string(e.chunk_number) + " lies beyond 4 GiB");
    }
  }
  return base::Status();
}

}  // namespace

base::Result<EncodedIndex> encode_token_bin_index(const std::vector<EntryRef>& entries,
                                                  std::vector<SourceRef> sources) {
  ZR_RETURN_IF_ERROR(check_entries(entries));
  // Sorting by (key, entry) keeps each key's entry numbers ascending,
  // repeats included; measured cheaper than grouping pairs in a hash map.
  std::sort(sources.begin(), sources.end(), [](const SourceRef& a, const SourceRef& b) {
    int c = std::memcmp(a.key.data(), b.key.data(), a.key.size());
    return c < 0 || (c == 0 && a.entry < b.entry);
  });

  // One record per run of equal keys.
  struct Run {
    size_t begin;
    size_t count;
  };
  std::vector<Run> runs;
  for (size_t i = 0; i < sources.size();) {
    size_t j = i + 1;
    while (j < sources.size() && sources[j].key == sources[i].key) ++j;
    if (j - i > kMaxEntriesPerSource) {
      return limit_exceeded(std::to_string(j - i) + " entries name source " + hex_of(sources[i].key) +
                            " (at most 65535)");
    }
    runs.push_back(Run{i, j - i});
    i = j;
  }
  if (runs.size() >= kFourGiB) return limit_exceeded(std::to_string(runs.size()) + " sources");

  uint64_t n = entries.size();
  uint64_t entry_table = kHeaderSize;
  uint64_t source_table = entry_table + kEntryRecordSize * n;
  uint64_t fanout_table = source_table + kSourceRecordHeader * runs.size() + 4 * sources.size();
  uint64_t file_size = fanout_table + kFanoutSize;
  if (file_size >= kFourGiB) return limit_exceeded("the index would reach 4 GiB");

  EncodedIndex out;
  out.entry_count = static_cast<uint32_t>(n);
  out.source_count = static_cast<uint32_t>(runs.size());
  std::string& bytes = out.bytes;
  bytes.assign(static_cast<size_t>(file_size), '\0');
  char* base = bytes.data();

  std::memcpy(base, kTokenBinMagic.data(), kTokenBinMagic.size());
  base::encode_fixed32(base + kVersionAt, kTokenBinVersion);
  base::encode_fixed32(base + kEntryCountAt, out.entry_count);
  base::encode_fixed32(base + kSourceCountAt, out.source_count);
  base::encode_fixed32(base + kEntryTableAt, static_cast<uint32_t>(entry_table));
  base::encode_fixed32(base + kSourceTableAt, static_cast<uint32_t>(source_table));
  base::encode_fixed32(base + kFanoutTableAt, static_cast<uint32_t>(fanout_table));

  char* record = base + entry_table;
  for (const EntryRef& e : entries) {
    base::encode_fixed16(record + kEntryChunkAt, static_cast<uint16_t>(e.chunk_number));
    base::encode_fixed32(record + kEntryOffsetAt, static_cast<uint32_t>(e.offset));
    base::encode_fixed32(record + kEntryLengthAt, static_cast<uint32_t>(e.length));
    record[kEntryFlagAt] = e.revoked ? 1 : 0;
    record += kEntryRecordSize;
  }

  uint64_t fanout[256] = {};
  uint64_t at = source_table;
  for (size_t r = 0; r < runs.size(); ++r) {
    const store::HashKey& key = sources[runs[r].begin].key;
    if (r == 0 || sources[runs[r - 1].begin].key[0] != key[0]) fanout[key[0]] = at;
    char* p = base + at;
    std::memcpy(p, key.data(), key.size());
    base::encode_fixed16(p + kSourceCountInRecord, static_cast<uint16_t>(runs[r].count));
    p += kSourceRecordHeader;
    for (size_t i = 0; i < runs[r].count; ++i) {
      base::encode_fixed32(p, sources[runs[r].begin + i].entry);
      p += 4;
    }
    at += kSourceRecordHeader + 4 * runs[r].count;
  }
  for (int b = 0; b < 256; ++b) base::encode_fixed64(base + fanout_table + 8 * b, fanout[b]);
  return out;
}

}  // namespace zr::token_index
