// Which lines a purge removes: the line sets of the two purge operations,
// and the set type they fill.
//
// A data line's content hash is always 64 lower-case hex digits, so only
// such strings can ever match; LineSet keeps them as their 32 decoded bytes
// in an open-addressing table, which makes the per-line test one or two cache
// lines. Other strings are kept aside only so that the set's size counts
// every distinct string added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/status.h"
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

// <zr_dir>/.zr/document-index/revoked/all: the revoked-document list, one
// document-index record per line, written by tools outside this module.
std::string revoked_list_path(std::string_view zr_dir);

// The number of non-empty lines of the revoked-document list (0 when it is
// absent), valid records or not.
base::Result<uint64_t> revoked_list_size(std::string_view zr_dir);

// The line hashes of the revoked-document list, plus those of every
// document-index record (in the shards, files named by two hex digits) that
// names a revoked section among its sources. A revoked section is a line of
// any regular file of the `sections` layer whose "revoked" member is true
// and whose "section_hash" is a string.
base::Result<LineSet> revoked_line_set(std::string_view zr_dir);

// The line set of a purge by author, found through index.bin: the authors
// of that name (at least one must be revoked), the `sections` shards the
// index names for their ids, the sections there that list one of the ids,
// the `document-index` shards the index names for those sections, and the
// records there with one of those sections among their sources. Fails when
// no author of that name is revoked, and when index.bin is missing.
base::Result<LineSet> author_line_set(std::string_view zr_dir, std::string_view author_name);

}  // namespace zr::purge
