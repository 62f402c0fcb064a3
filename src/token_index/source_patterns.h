// Finding lines that may name one of a set of sources, without parsing them.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "token_index/token_index_entry.h"

namespace zr::token_index {

// True when one of the entry's sources is in `targets`, byte for byte.
bool names_any(const TokenIndexEntry& entry, const std::unordered_set<std::string>& targets);

class SourcePatterns {
 public:
  // Each target is looked for in its quoted form: a double quote, its bytes
  // as they are (no JSON escaping), a double quote. Patterns are grouped by
  // their first four bytes; a pattern shorter than that (an empty or
  // one-byte target) can never match.
  explicit SourcePatterns(const std::vector<std::string>& targets);

  // True when some double quote of `line` starts a whole quoted target.
  bool HasCandidate(std::string_view line) const;

  // True when one of the entry's sources is a target, byte for byte.
  bool names_target(const TokenIndexEntry& entry) const { return names_any(entry, targets_); }

 private:
  static uint32_t key_of(const char* p);
  static size_t PairAt(const char* p);

  std::unordered_map<uint32_t, std::vector<std::string>> groups_;
  // Bytes 1 and 2 of every pattern's first four: a cheap first test before
  // the hash lookup, since most quotes in a line start member names.
  std::bitset<65536> second_and_third_;
  std::unordered_set<std::string> targets_;
};

}  // namespace zr::token_index
