// The working tables of an index build: which shards of the next layer hold
// the records related to each author id and section hash.
//
//   document lines: source -> prefixes of the line hashes naming it
//   section lines:  section hash -> those prefixes (its document shards),
//                   author id -> prefixes of the hashes of its sections
//
// A prefix is the first two bytes of a hash, the name of its shard. Keys
// whose prefix cannot name a shard file safely are passed over.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/record_reader.h"

namespace zr::index {

// A shard name packed high byte first, so that numeric order is byte order.
using PackedPrefix = uint16_t;

PackedPrefix pack_prefix(std::string_view key);  // key has at least two bytes

// String keys, each with a set of prefixes; keys keep their first-seen order.
//
// The build probes this table once per source of every document line, so
// it is laid out for that: an open-addressing table of (hash, key) slots,
// keys in one arena, and each set as a bitmap of the 256 lower-case hex
// shard names (what real hashes have) with a list for any other name.
class PrefixSets {
 public:
  PrefixSets();

  // The slot of `key`, added if new.
  uint32_t Slot(std::string_view key);
  // The slot of `key`, or -1.
  int64_t Find(std::string_view key) const;

  void Add(uint32_t slot, PackedPrefix prefix);

  size_t size() const { return spans_.size(); }
  std::string_view key(uint32_t slot) const { return {arena_.data() + spans_[slot].offset, spans_[slot].size}; }
  // The set of a slot, ascending.
  std::vector<PackedPrefix> Sorted(uint32_t slot) const;

 private:
  struct Span {
    size_t offset;
    size_t size;
  };
  struct Bucket {
    uint64_t hash = 0;
    uint32_t slot = kEmpty;
  };
  struct Set {
    std::array<uint64_t, 4> hex{};     // bit i: the name of hex pair i
    std::vector<PackedPrefix> others;  // every other name, unsorted
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;

  size_t Probe(std::string_view key, uint64_t hash) const;
  void Grow();

  std::vector<Bucket> buckets_;  // power-of-two size, at most half full
  std::string arena_;
  std::vector<Span> spans_;
  std::vector<Set> sets_;
};

// One file of the `index` layer: its name and its lines.
struct IndexGroup {
  std::string name;
  std::string text;
};

class AttributionTables {
 public:
  // Adds the document-index lines of one file.
  void AddDocumentText(std::string_view text);
  // Adds the section lines of one file (after all document lines).
  void AddSectionText(std::string_view text);

  size_t author_count() const { return authors_.size(); }
  size_t section_count() const { return sections_.size(); }

  // The `index` layer: one group per shard name, each holding the records
  // of the author ids before those of the section hashes; groups in name
  // order.
  std::vector<IndexGroup> RenderGroups();

 private:
  RecordReader document_reader_{"line_hash", "sources"};
  RecordReader section_reader_{"section_hash", "authors"};
  PrefixSets sources_;   // source -> line-hash prefixes
  PrefixSets sections_;  // the section hashes (their sets stay empty)
  PrefixSets authors_;   // author id -> section-hash prefixes
  // By slot of sections_: the section's document shards, ascending.
  std::vector<std::vector<PackedPrefix>> section_refs_;
};

}  // namespace zr::index
