// Does a line contain any of a set of strings? A pre-filter that spares
// parsing lines which cannot concern any of them.
//
// Needles are grouped by length; each group is found with one rolling-hash
// pass over the line, whatever the number of needles in it, and a candidate
// position is confirmed by comparing bytes. So the cost per line is linear
// in its length times the number of distinct needle lengths (one, for
// hashes), not in the number of needles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zr::store {

class SubstringFilter {
 public:
  // Empty needles are ignored: they would let every line through.
  explicit SubstringFilter(const std::vector<std::string>& needles);

  // True when `line` contains at least one needle as a byte substring.
  bool Matches(std::string_view line) const;

 private:
  struct Group {
    size_t length = 0;
    uint64_t high_power = 1;      // kBase^(length-1), to drop the byte leaving the window
    std::vector<uint64_t> bloom;  // one bit per value of the hash's top 16 bits
    std::unordered_set<std::string_view> needles;
  };

  bool GroupMatches(const Group& group, std::string_view line) const;

  std::vector<std::string> storage_;
  std::vector<Group> groups_;
};

}  // namespace zr::store
