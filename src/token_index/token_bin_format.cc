#include "token_index/token_bin_format.h"

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
                                                  SourceGroups sources) {
  ZR_RETURN_IF_ERROR(check_entries(entries));
  sources.Flush();
  // One record per distinct key, in key order; pairs were added in entry
  // order, so each key's entry numbers come out ascending, repeats included.
  const std::vector<uint32_t> records = sources.groups_by_key();
  uint64_t numbers = 0;
  for (uint32_t group : records) {
    if (sources.count(group) > kMaxEntriesPerSource) {
      return limit_exceeded(std::to_string(sources.count(group)) + " entries name source " +
                            hex_of(sources.key(group)) + " (at most 65535)");
    }
    numbers += sources.count(group);
  }
  if (sources.overflowed()) return limit_exceeded("more than " + std::to_string(records.size()) + " sources");
  if (records.size() >= kFourGiB) return limit_exceeded(std::to_string(records.size()) + " sources");

  uint64_t n = entries.size();
  uint64_t entry_table = kHeaderSize;
  uint64_t source_table = entry_table + kEntryRecordSize * n;
  uint64_t fanout_table = source_table + kSourceRecordHeader * records.size() + 4 * numbers;
  uint64_t file_size = fanout_table + kFanoutSize;
  if (file_size >= kFourGiB) return limit_exceeded("the index would reach 4 GiB");

  EncodedIndex out;
  out.entry_count = static_cast<uint32_t>(n);
  out.source_count = static_cast<uint32_t>(records.size());
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

  // Record headers in key order; next_number[group] is where that key's
  // next entry number goes.
  uint64_t fanout[256] = {};
  std::vector<uint64_t> next_number(sources.group_count());
  uint64_t at = source_table;
  for (size_t r = 0; r < records.size(); ++r) {
    const store::HashKey& key = sources.key(records[r]);
    if (r == 0 || sources.key(records[r - 1])[0] != key[0]) fanout[key[0]] = at;
    std::memcpy(base + at, key.data(), key.size());
    base::encode_fixed16(base + at + kSourceCountInRecord, static_cast<uint16_t>(sources.count(records[r])));
    next_number[records[r]] = at + kSourceRecordHeader;
    at += kSourceRecordHeader + 4 * sources.count(records[r]);
  }
  sources.for_each_pair([&](uint32_t group, uint32_t entry) {
    base::encode_fixed32(base + next_number[group], entry);
    next_number[group] += 4;
  });
  for (int b = 0; b < 256; ++b) base::encode_fixed64(base + fanout_table + 8 * b, fanout[b]);
  return out;
}

}  // namespace zr::token_index
