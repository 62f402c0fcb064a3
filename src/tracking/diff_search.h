// Stage 1 of the line diff: a minimal edit script between two lists of
// numbered lines (see line_numbering.h), by Myers's O(ND) algorithm in its
// linear-space divide-and-conquer form. Each step finds the middle snake of
// a range (the run of equal lines halfway along a minimal path), searching
// from both corners at once, and splits the range there.
//
// The script's operations, in path order, are what compaction and merging
// (diff_opcodes.h) then rearrange into opcodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tracking/line_diff.h"

namespace zr::tracking {

// One operation of the edit script. A deletion has new_len 0, an insertion
// old_len 0 and an equal run the same length on both sides, so one layout
// serves every kind: merging two operations of the same kind adds both
// lengths, and the opcode is read off the fields directly.
struct EditOp {
  DiffTag tag;
  size_t old_index, old_len, new_index, new_len;

  size_t old_end() const { return old_index + old_len; }
  size_t new_end() const { return new_index + new_len; }
  bool empty() const { return old_len == 0 && new_len == 0; }
};

inline EditOp make_equal(size_t old_index, size_t new_index, size_t len) {
  return {DiffTag::kEqual, old_index, len, new_index, len};
}
inline EditOp make_delete(size_t old_index, size_t old_len, size_t new_index) {
  return {DiffTag::kDelete, old_index, old_len, new_index, 0};
}
inline EditOp make_insert(size_t old_index, size_t new_index, size_t new_len) {
  return {DiffTag::kInsert, old_index, 0, new_index, new_len};
}
inline EditOp make_replace(const EditOp& deletion, const EditOp& insertion) {
  return {DiffTag::kReplace, deletion.old_index, deletion.old_len, insertion.new_index, insertion.new_len};
}

// Whether the search may skip rounds it can predict. The full search exists
// so that tests can compare the two.
enum class Search { kWithShortcuts, kFull };

// The operations that turn every old line into every new line, in path
// order: equal runs, deletions and insertions only. Id is uint32_t or
// uint64_t; both are built in diff_search.cc.
template <typename Id>
std::vector<EditOp> edit_script(const std::vector<Id>& old_ids, const std::vector<Id>& new_ids, Search search);

}  // namespace zr::tracking
