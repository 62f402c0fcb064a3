// A set of line hashes, for deciding which lines of a data file to purge.
//
// A data line's content hash is always 64 lower-case hex digits, so only
// such strings can ever match; they are kept as their 32 decoded bytes in an
// open-addressing table, which makes the per-line test one or two cache
// lines. Other strings are kept aside only so that the set's size counts
// every distinct string added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "store/content_hash.h"

namespace zr::purge {

class LineSet {
 public:
  // Adds a line hash; false when it was already there.
  bool Add(std::string_view line_hash);

  // Distinct strings added.
  size_t size() const { return keys_.size() + others_.size(); }
  bool empty() const { return size() == 0; }
  // True when no data line can match (no 64-lower-case-hex string added).
  bool matches_nothing() const { return keys_.empty(); }

  // Whether the line whose SHA-256 digest is `digest` is in the set.
  bool ContainsDigest(const store::HashKey& digest) const;

 private:
  size_t Probe(const store::HashKey& key) const;  // slot holding `key`, or the empty slot where it belongs
  void Grow();

  std::vector<store::HashKey> keys_;
  std::vector<uint32_t> slots_;  // 0: empty; otherwise index into keys_ plus one
  std::unordered_set<std::string> others_;
};

// Decodes 64 lower-case hex digits; false for anything else (upper case
// included: such a string is no content hash).
bool decode_lower_hex_hash(std::string_view text, store::HashKey& out);

}  // namespace zr::purge
