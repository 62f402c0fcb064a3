// Lines numbered by content, so that the diff compares integers instead of
// bytes: a line's number is the position of the first line with the same
// content in the old lines followed by the new ones, and two lines are equal
// exactly when their numbers are.
//
// The search asks about the same pairs of lines again at every level of its
// recursion; a comparison of two integers from two small arrays costs far
// less than a walk over the lines' bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace zr::tracking {

template <typename Id>
struct NumberedLines {
  std::vector<Id> old_ids;
  std::vector<Id> new_ids;
  bool shared = false;  // some old line also occurs among the new ones
};

// Id is uint32_t or uint64_t (the caller picks the narrowest that holds the
// total number of lines); LineList is a std::vector of std::string_view or of
// std::string. Every combination is built in line_numbering.cc.
template <typename Id, typename LineList>
NumberedLines<Id> number_lines(const LineList& old_lines, const LineList& new_lines);

}  // namespace zr::tracking
