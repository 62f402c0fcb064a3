// Compaction, merging and conversion of an edit script. Like the search,
// these passes fix which lines blame pairs: their order of operations is
// part of the result.
#include "tracking/diff_opcodes.h"

#include <cstddef>
#include <optional>
#include <utility>

namespace zr::tracking {
namespace {

// ---------------------------------------------------------------------------
// Stage 2: compaction. Myers's script places a change wherever the search met
// it; sliding insertions over repeated unchanged lines and gathering adjacent
// changes of one kind gives one predictable block per change. The list is
// edited in place while it is walked, so positions are passed and returned.

template <typename Id>
class Compactor {
 public:
  Compactor(const std::vector<Id>& old_lines, const std::vector<Id>& new_lines, std::vector<EditOp>& ops)
      : old_(old_lines), new_(new_lines), ops_(ops) {}

  // Deletions first, then insertions: each pass walks the whole list.
  void run() {
    compact_all(DiffTag::kDelete);
    compact_all(DiffTag::kInsert);
  }

 private:
  void compact_all(DiffTag tag) {
    for (size_t p = 0; p < ops_.size(); ++p) {
      if (ops_[p].tag != tag) continue;
      p = shift_up(p);
      p = shift_down(p);
    }
  }

  size_t shift_up(size_t p);
  size_t shift_down(size_t p);

  // Lines shared by the end of an equal run's old range and the end of a
  // change's new range. A deletion inserts no new lines, so it never slides.
  size_t common_tail(const EditOp& equal, const EditOp& change) const {
    size_t s = 0;
    while (s < equal.old_len && s < change.new_len &&
           old_[equal.old_end() - s - 1] == new_[change.new_end() - s - 1]) {
      ++s;
    }
    return s;
  }

  // Lines shared by the start of an equal run's old range and the start of a
  // change's new range.
  size_t common_head(const EditOp& equal, const EditOp& change) const {
    size_t s = 0;
    while (s < equal.old_len && s < change.new_len &&
           old_[equal.old_index + s] == new_[change.new_index + s]) {
      ++s;
    }
    return s;
  }

  void erase_at(size_t p) { ops_.erase(ops_.begin() + static_cast<ptrdiff_t>(p)); }
  void insert_at(size_t p, const EditOp& op) { ops_.insert(ops_.begin() + static_cast<ptrdiff_t>(p), op); }

  const std::vector<Id>& old_;
  const std::vector<Id>& new_;
  std::vector<EditOp>& ops_;
};

// Moves the change at p towards the start of the list; returns its position.
template <typename Id>
size_t Compactor<Id>::shift_up(size_t p) {
  while (p > 0) {
    EditOp& prev = ops_[p - 1];
    EditOp& cur = ops_[p];
    if (prev.tag == DiffTag::kEqual) {
      const size_t s = common_tail(prev, cur);
      if (s == 0) {
        if (!prev.empty()) break;
        erase_at(p - 1);
        --p;
        continue;
      }
      // The last s unchanged lines repeat the change's last s lines: the
      // change moves up by s and those lines become unchanged after it.
      const EditOp carried = make_equal(prev.old_end() - s, cur.new_end() - s, s);
      cur.old_index -= s;
      cur.new_index -= s;
      prev.old_len -= s;
      prev.new_len -= s;
      const bool prev_emptied = prev.empty();
      if (p + 1 < ops_.size() && ops_[p + 1].tag == DiffTag::kEqual) {
        EditOp& next = ops_[p + 1];
        next.old_index -= s;
        next.new_index -= s;
        next.old_len += s;
        next.new_len += s;
      } else {
        insert_at(p + 1, carried);
      }
      if (prev_emptied) {
        erase_at(p - 1);
        --p;
      }
    } else if (prev.tag != cur.tag) {
      // A deletion and an insertion trade places as they are; their indices
      // stay, which is why opcodes need not tile both lists.
      std::swap(prev, cur);
      --p;
    } else {
      prev.old_len += cur.old_len;
      prev.new_len += cur.new_len;
      erase_at(p);
      --p;
    }
  }
  return p;
}

// Moves the change at p towards the end of the list; returns its position.
template <typename Id>
size_t Compactor<Id>::shift_down(size_t p) {
  while (p + 1 < ops_.size()) {
    EditOp& cur = ops_[p];
    EditOp& next = ops_[p + 1];
    if (next.tag == DiffTag::kEqual) {
      const size_t s = common_head(next, cur);
      if (s == 0) {
        if (!next.empty()) break;
        erase_at(p + 1);
        continue;
      }
      // The first s unchanged lines repeat the change's first s lines: the
      // change moves down by s and those lines become unchanged before it.
      const EditOp carried = make_equal(next.old_index, cur.new_index, s);
      cur.old_index += s;
      cur.new_index += s;
      next.old_index += s;
      next.new_index += s;
      next.old_len -= s;
      next.new_len -= s;
      const bool next_emptied = next.empty();
      if (p > 0 && ops_[p - 1].tag == DiffTag::kEqual) {
        ops_[p - 1].old_len += s;
        ops_[p - 1].new_len += s;
      } else {
        insert_at(p, carried);
        ++p;
      }
      if (next_emptied) erase_at(p + 1);
    } else if (next.tag != cur.tag) {
      std::swap(cur, next);
      ++p;
    } else {
      cur.old_len += next.old_len;
      cur.new_len += next.new_len;
      erase_at(p + 1);
    }
  }
  return p;
}

// ---------------------------------------------------------------------------
// Stage 3: merging. Joins runs of one kind and pairs the deletions and
// insertions between two unchanged runs into one replacement, so a changed
// line reads as "replace" rather than a deletion next to an insertion.

class Merger {
 public:
  void add(const EditOp& op) {
    switch (op.tag) {
      case DiffTag::kEqual:
        flush_changes();
        extend(equal_, op);
        break;
      case DiffTag::kDelete:
        flush_equal();
        extend(deletion_, op);
        break;
      case DiffTag::kInsert:
        flush_equal();
        extend(insertion_, op);
        break;
      case DiffTag::kReplace:
        break;  // Not produced by the earlier stages.
    }
  }

  std::vector<EditOp> finish() && {
    flush_equal();
    flush_changes();
    return std::move(out_);
  }

 private:
  // A pending operation grows by the lengths of the next one of its kind and
  // keeps its own indices.
  static void extend(std::optional<EditOp>& pending, const EditOp& op) {
    if (!pending) {
      pending = op;
      return;
    }
    pending->old_len += op.old_len;
    pending->new_len += op.new_len;
  }

  void flush_equal() {
    if (equal_) out_.push_back(*equal_);
    equal_.reset();
  }

  void flush_changes() {
    if (deletion_ && insertion_) {
      out_.push_back(make_replace(*deletion_, *insertion_));
    } else if (deletion_) {
      out_.push_back(*deletion_);
    } else if (insertion_) {
      out_.push_back(*insertion_);
    }
    deletion_.reset();
    insertion_.reset();
  }

  std::optional<EditOp> equal_, deletion_, insertion_;
  std::vector<EditOp> out_;
};

}  // namespace

template <typename Id>
std::vector<DiffOpcode> opcodes_from_script(const std::vector<Id>& old_ids, const std::vector<Id>& new_ids,
                                            std::vector<EditOp> script) {
  Compactor<Id>(old_ids, new_ids, script).run();

  Merger merger;
  for (const EditOp& op : script) merger.add(op);
  const std::vector<EditOp> merged = std::move(merger).finish();

  std::vector<DiffOpcode> opcodes;
  opcodes.reserve(merged.size());
  for (const EditOp& op : merged) opcodes.push_back(to_opcode(op));
  return opcodes;
}

template std::vector<DiffOpcode> opcodes_from_script<uint32_t>(const std::vector<uint32_t>&,
                                                               const std::vector<uint32_t>&, std::vector<EditOp>);
template std::vector<DiffOpcode> opcodes_from_script<uint64_t>(const std::vector<uint64_t>&,
                                                               const std::vector<uint64_t>&, std::vector<EditOp>);

}  // namespace zr::tracking
