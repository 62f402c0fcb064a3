#include "index/attribution_tables.h"

#include <algorithm>
#include <map>

#include "base/bytes_hash.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::index {

namespace {

// {"id":<key>,"refs":[<prefix>,...]} and "\n"
void append_index_record(std::string& out, std::string_view key, const std::vector<PackedPrefix>& refs) {
  out.append("{\"id\":");
  json::append_string(out, key);
  out.append(",\"refs\":[");
  for (size_t i = 0; i < refs.size(); ++i) {
    if (i > 0) out.push_back(',');
    const char name[2] = {static_cast<char>(refs[i] >> 8), static_cast<char>(refs[i] & 0xFF)};
    json::append_string(out, std::string_view(name, 2));
  }
  out.append("]}\n");
}

}  // namespace

PackedPrefix pack_prefix(std::string_view key) {
  return static_cast<PackedPrefix>((static_cast<unsigned char>(key[0]) << 8) | static_cast<unsigned char>(key[1]));
}

namespace {

// 0..255 for a name of two lower-case hex digits, -1 otherwise.
int hex_pair(PackedPrefix prefix) {
  auto digit = [](int c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  const int hi = digit(prefix >> 8);
  const int lo = digit(prefix & 0xFF);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

PackedPrefix hex_pair_name(int pair) {
  static constexpr char kHex[] = "0123456789abcdef";
  return static_cast<PackedPrefix>((kHex[pair >> 4] << 8) | kHex[pair & 0xF]);
}

}  // namespace

PrefixSets::PrefixSets() : buckets_(1024) {}

size_t PrefixSets::Probe(std::string_view key, uint64_t hash) const {
  const size_t mask = buckets_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Bucket& b = buckets_[i];
    if (b.slot == kEmpty) return i;
    if (b.hash == hash && this->key(b.slot) == key) return i;
  }
}

void PrefixSets::Grow() {
  std::vector<Bucket> old(buckets_.size() * 2);
  old.swap(buckets_);
  const size_t mask = buckets_.size() - 1;
  for (const Bucket& b : old) {
    if (b.slot == kEmpty) continue;
    size_t i = b.hash & mask;
    while (buckets_[i].slot != kEmpty) i = (i + 1) & mask;
    buckets_[i] = b;
  }
}

uint32_t PrefixSets::Slot(std::string_view key) {
  const uint64_t hash = base::hash_bytes(key);
  size_t i = Probe(key, hash);
  if (buckets_[i].slot != kEmpty) return buckets_[i].slot;
  if (2 * (spans_.size() + 1) > buckets_.size()) {
    Grow();
    i = Probe(key, hash);
  }
  const auto slot = static_cast<uint32_t>(spans_.size());
  spans_.push_back(Span{arena_.size(), key.size()});
  arena_.append(key);
  sets_.emplace_back();
  buckets_[i] = Bucket{hash, slot};
  return slot;
}

int64_t PrefixSets::Find(std::string_view key) const {
  const Bucket& b = buckets_[Probe(key, base::hash_bytes(key))];
  return b.slot == kEmpty ? -1 : static_cast<int64_t>(b.slot);
}

void PrefixSets::Add(uint32_t slot, PackedPrefix prefix) {
  Set& set = sets_[slot];
  if (const int pair = hex_pair(prefix); pair >= 0) {
    set.hex[pair >> 6] |= uint64_t{1} << (pair & 63);
  } else if (std::find(set.others.begin(), set.others.end(), prefix) == set.others.end()) {
    set.others.push_back(prefix);
  }
}

std::vector<PackedPrefix> PrefixSets::Sorted(uint32_t slot) const {
  const Set& set = sets_[slot];
  std::vector<PackedPrefix> sorted = set.others;
  for (int pair = 0; pair < 256; ++pair) {
    if (set.hex[pair >> 6] >> (pair & 63) & 1) sorted.push_back(hex_pair_name(pair));
  }
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

void AttributionTables::AddDocumentText(std::string_view text) {
  store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
    if (!document_reader_.Read(line, readable_after)) return;
    const MemberView& line_hash = document_reader_.member(0);
    const MemberView& sources = document_reader_.member(1);
    if (line_hash.kind != MemberKind::kString || sources.kind != MemberKind::kArray) return;
    if (!store::names_safe_shard(line_hash.text)) return;
    const PackedPrefix prefix = pack_prefix(line_hash.text);
    for (std::string_view source : sources.strings) sources_.Add(sources_.Slot(source), prefix);
  });
}

void AttributionTables::AddSectionText(std::string_view text) {
  store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
    if (!section_reader_.Read(line, readable_after)) return;
    const MemberView& hash = section_reader_.member(0);
    const MemberView& authors = section_reader_.member(1);
    if (hash.kind != MemberKind::kString || !store::names_safe_shard(hash.text)) return;
    const size_t known = sections_.size();
    const uint32_t slot = sections_.Slot(hash.text);
    if (slot == known) {
      // A section registered twice has the same documents: its refs are
      // taken once.
      if (const int64_t source = sources_.Find(hash.text); source >= 0) {
        section_refs_.push_back(sources_.Sorted(static_cast<uint32_t>(source)));
      } else {
        section_refs_.emplace_back();
      }
    }
    if (authors.kind != MemberKind::kArray) return;
    const PackedPrefix prefix = pack_prefix(hash.text);
    for (std::string_view author : authors.strings) {
      if (store::names_safe_shard(author)) authors_.Add(authors_.Slot(author), prefix);
    }
  });
}

std::vector<IndexGroup> AttributionTables::RenderGroups() {
  struct Parts {
    std::string authors;
    std::string sections;
  };
  std::map<PackedPrefix, Parts> parts;
  for (uint32_t slot = 0; slot < authors_.size(); ++slot) {
    const std::string_view id = authors_.key(slot);
    append_index_record(parts[pack_prefix(id)].authors, id, authors_.Sorted(slot));
  }
  for (uint32_t slot = 0; slot < sections_.size(); ++slot) {
    const std::string_view hash = sections_.key(slot);
    append_index_record(parts[pack_prefix(hash)].sections, hash, section_refs_[slot]);
  }
  std::vector<IndexGroup> groups;
  groups.reserve(parts.size());
  for (auto& [prefix, part] : parts) {
    const char name[2] = {static_cast<char>(prefix >> 8), static_cast<char>(prefix & 0xFF)};
    part.authors.append(part.sections);
    groups.push_back(IndexGroup{std::string(name, 2), std::move(part.authors)});
  }
  return groups;
}

}  // namespace zr::index
