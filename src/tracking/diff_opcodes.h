// Stages 2 to 4 of the line diff: from the search's edit script (see
// diff_search.h) to the opcodes blame_diff returns. Compaction slides and
// gathers insertion and deletion blocks, merging joins neighbouring
// deletions and insertions into replacements, and each operation then reads
// off as one opcode.
#pragma once

#include <vector>

#include "tracking/diff_search.h"
#include "tracking/line_diff.h"

namespace zr::tracking {

// Every kind reads the same way thanks to the EditOp layout (an empty side
// has length 0).
inline DiffOpcode to_opcode(const EditOp& op) {
  return {op.tag, op.old_index, op.old_end(), op.new_index, op.new_end()};
}

// Compacts and merges `script` over the numbered lines it was made from,
// then converts it. Id is uint32_t or uint64_t; both are built in
// diff_opcodes.cc.
template <typename Id>
std::vector<DiffOpcode> opcodes_from_script(const std::vector<Id>& old_ids, const std::vector<Id>& new_ids,
                                            std::vector<EditOp> script);

}  // namespace zr::tracking
