// Line-level diff opcodes used to carry blame from one version of a file to
// the next.
//
// The result has the shape of the opcodes of Python's
// difflib.SequenceMatcher.get_opcodes(): (tag, i1, i2, j1, j2) with half-open
// line ranges [i1, i2) of the old lines and [j1, j2) of the new lines. Each
// opcode is meaningful on its own (an "equal" opcode pairs old[i1 + t] with
// new[j1 + t]); callers pair lines opcode by opcode. The ranges of consecutive
// opcodes are not guaranteed to tile both lists: compaction may exchange a
// deletion and an insertion without re-basing their indices.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zr::tracking {

enum class DiffTag { kEqual, kDelete, kInsert, kReplace };

struct DiffOpcode {
  DiffTag tag;
  size_t i1, i2, j1, j2;

  bool operator==(const DiffOpcode&) const = default;
};

// "equal", "delete", "insert" or "replace".
const char* diff_tag_name(DiffTag tag);

// Compares the two versions line by line (exact bytes, nothing normalised).
// Pure computation: it cannot fail. Memory is linear in the number of lines.
std::vector<DiffOpcode> blame_diff(const std::vector<std::string_view>& old_lines,
                                   const std::vector<std::string_view>& new_lines);
std::vector<DiffOpcode> blame_diff(const std::vector<std::string>& old_lines,
                                   const std::vector<std::string>& new_lines);

// The same diff by the search alone, every round played out: never faster,
// always the same result. Tests compare it with blame_diff.
std::vector<DiffOpcode> blame_diff_full_search(const std::vector<std::string_view>& old_lines,
                                               const std::vector<std::string_view>& new_lines);

}  // namespace zr::tracking
