// Line diff in four stages: a minimal edit script (Myers's O(ND) algorithm in
// its linear-space divide-and-conquer form, diff_search.h), a compaction pass
// that slides and merges insertion and deletion blocks, a merging pass that
// joins neighbouring deletions and insertions into replacements, and the
// conversion to opcodes (all three in diff_opcodes.h). Blame carried across
// versions depends on which lines are paired, so every stage follows a fixed
// order of operations; do not "simplify" the tie-breaks.
//
// The stages only ever ask whether two lines are equal, so they work on
// lines numbered by content (line_numbering.h) and compare the numbers.
#include "tracking/line_diff.h"

#include <cstdint>
#include <limits>

#include "tracking/diff_opcodes.h"
#include "tracking/diff_search.h"
#include "tracking/line_numbering.h"

namespace zr::tracking {

const char* diff_tag_name(DiffTag tag) {
  switch (tag) {
    case DiffTag::kEqual:
      return "equal";
    case DiffTag::kDelete:
      return "delete";
    case DiffTag::kInsert:
      return "insert";
    case DiffTag::kReplace:
      return "replace";
  }
  return "equal";  // Unreachable: every enumerator is handled above.
}

namespace {

// The stages over numbered lines.
template <typename Id>
std::vector<DiffOpcode> diff_numbered(const NumberedLines<Id>& lines, Search search) {
  const size_t n = lines.old_ids.size();
  const size_t m = lines.new_ids.size();
  // With no line in common the edit script holds only deletions and
  // insertions, in path order, so the first of each starts at line 0 of its
  // side. Compaction finds no equal lines to slide over: it only gathers each
  // kind into one block that keeps the first one's indices, and merging
  // pairs the two blocks. The result is always this one replacement, which
  // spares the search its quadratic worst case.
  if (search == Search::kWithShortcuts && n > 0 && m > 0 && !lines.shared) {
    return {to_opcode(make_replace(make_delete(0, n, 0), make_insert(0, 0, m)))};
  }
  return opcodes_from_script(lines.old_ids, lines.new_ids, edit_script(lines.old_ids, lines.new_ids, search));
}

template <typename LineList>
std::vector<DiffOpcode> diff_lines(const LineList& old_lines, const LineList& new_lines, Search search) {
  // Numbers are positions in both lists together; 32 bits (31 for the
  // search's signed diagonals, with room for its offsets) suffice for any
  // input that fits in memory today, and keep the arrays small.
  const size_t total = old_lines.size() + new_lines.size();
  return total < std::numeric_limits<int32_t>::max() / 2
             ? diff_numbered(number_lines<uint32_t>(old_lines, new_lines), search)
             : diff_numbered(number_lines<uint64_t>(old_lines, new_lines), search);
}

}  // namespace

std::vector<DiffOpcode> blame_diff(const std::vector<std::string_view>& old_lines,
                                   const std::vector<std::string_view>& new_lines) {
  return diff_lines(old_lines, new_lines, Search::kWithShortcuts);
}

std::vector<DiffOpcode> blame_diff_full_search(const std::vector<std::string_view>& old_lines,
                                               const std::vector<std::string_view>& new_lines) {
  return diff_lines(old_lines, new_lines, Search::kFull);
}

std::vector<DiffOpcode> blame_diff(const std::vector<std::string>& old_lines,
                                   const std::vector<std::string>& new_lines) {
  return diff_lines(old_lines, new_lines, Search::kWithShortcuts);
}

}  // namespace zr::tracking
