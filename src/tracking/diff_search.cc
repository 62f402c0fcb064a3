// The middle-snake search and the recursion around it. Every tie-break
// below decides which lines blame pairs, so each follows a fixed order of
// operations; do not "simplify" them.
//
// Coordinates: x counts old lines and y new lines from a range's start (from
// its end for the backward search), a diagonal k holds the points with
// x - y = k, and round d of a search knows, for every diagonal, the
// furthest x that a path with d insertions and deletions reaches there. A
// snake is a run of equal lines, followed diagonally for free.
#include "tracking/diff_search.h"

#include <algorithm>
#include <optional>
#include <type_traits>
#include <utility>

#include "tracking/diagonal_round.h"

namespace zr::tracking {
namespace {

// Furthest-reaching x per diagonal k, where k may be negative. Allocated once
// for the largest search the whole diff can need and reused at every level of
// the recursion, which keeps memory linear in the number of lines.
//
// Round d of the search writes the diagonals of d's parity and reads only
// those of the other parity, written by round d - 1; keeping each parity in
// its own row makes both contiguous, so a round is a plain loop over two
// arrays that the compiler can keep in registers and vectors.
template <typename Diagonal>
class DiagonalArray {
 public:
  explicit DiagonalArray(size_t max_d)
      : half_(max_d / 2 + 2), even_(2 * half_, 0), odd_(2 * half_, 0) {}

  // The diagonals of one parity, indexed by k >> 1 (that is, floor(k / 2)).
  Diagonal* row(ptrdiff_t parity) { return (parity != 0 ? odd_ : even_).data() + half_; }
  Diagonal& operator[](ptrdiff_t k) { return row(k & 1)[k >> 1]; }

 private:
  size_t half_;
  std::vector<Diagonal> even_;
  std::vector<Diagonal> odd_;
};

// Marks the two diagonals just outside round d (k = -d - 1 and k = d + 1,
// which round d - 1 did not write) so that every diagonal of round d starts
// from max(v[k + 1], v[k - 1] + 1): the outermost ones then take their only
// neighbour. That is the search's rule (one step down from k + 1 or one step
// right from k - 1, whichever reaches further; a tie goes down), since x
// values are never negative.
template <typename Diagonal>
void mark_round_edges(DiagonalArray<Diagonal>& v, ptrdiff_t d) {
  v[-d - 1] = -2;
  v[d + 1] = -2;
}

struct SplitPoint {
  size_t old_pos, new_pos;
};

// Where the middle snake of a range lies when no old line of the range equals
// any new line of it. No snake can then ever be followed, so after round d
// every diagonal k the search has reached holds x = (d + k) / 2 in both
// directions, and the rounds play out in closed form: the paths first overlap
// in round ceil((n + m) / 2), on the first diagonal (in the search's
// descending order) that the overlap test accepts. Relative coordinates.
SplitPoint split_without_common_lines(size_t n, size_t m) {
  if ((n + m) % 2 != 0) {
    // Odd delta: the forward pass meets at d = (n + m + 1) / 2, from the
    // point where its path left the previous round.
    const size_t d = (n + m + 1) / 2;
    if (n > m) return {d, 0};  // diagonal k = d
    return {n, (m - n + 1) / 2};  // diagonal k = delta + d - 1
  }
  // Even delta: the backward pass meets at d = (n + m) / 2; the split is its
  // end point counted from the range's ends.
  const size_t d = (n + m) / 2;
  if (n >= m) return {n - d, m};  // diagonal k = d
  return {0, m - (m - n) / 2};  // diagonal k = delta + d
}

template <typename Id>
class EditScript {
  // Diagonals hold x values and k offsets up to the number of lines; the
  // narrow type lets a round work on eight diagonals per vector.
  using Diagonal = std::conditional_t<std::is_same_v<Id, uint32_t>, int32_t, ptrdiff_t>;

 public:
  EditScript(const std::vector<Id>& old_lines, const std::vector<Id>& new_lines, Search search)
      : old_(old_lines),
        new_(new_lines),
        search_(search),
        vf_(max_depth(old_lines.size(), new_lines.size())),
        vb_(max_depth(old_lines.size(), new_lines.size())) {}

  // Appends the operations that turn old[old_start, old_end) into
  // new[new_start, new_end). Each split halves the edit distance left to
  // resolve (the middle snake lies halfway along a minimal path), so the
  // recursion is only about log2(n + m) levels deep even for huge inputs.
  void conquer(size_t old_start, size_t old_end, size_t new_start, size_t new_end);

  std::vector<EditOp> take() && { return std::move(ops_); }

 private:
  static size_t max_depth(size_t n, size_t m) { return (n + m + 1) / 2 + 1; }
  std::optional<ptrdiff_t> first_overlap(DiagonalArray<Diagonal>& mine, DiagonalArray<Diagonal>& other,
                                         ptrdiff_t k_high, ptrdiff_t k_low, ptrdiff_t delta, ptrdiff_t n);
  bool play_round(bool backward, size_t old_base, size_t new_base, ptrdiff_t n, ptrdiff_t m, ptrdiff_t d,
                  DiagonalArray<Diagonal>& v);

  size_t common_prefix(size_t old_start, size_t old_end, size_t new_start, size_t new_end) const;
  size_t common_suffix(size_t old_start, size_t old_end, size_t new_start, size_t new_end) const;
  std::optional<SplitPoint> middle_snake(size_t old_start, size_t old_end, size_t new_start, size_t new_end);
  bool ranges_share_a_line(size_t old_start, size_t old_end, size_t new_start, size_t new_end);

  const std::vector<Id>& old_;
  const std::vector<Id>& new_;
  const Search search_;
  // Line numbers seen in the old range, stamped with the check that saw them
  // (a fresh stamp per check spares clearing the array).
  std::vector<uint32_t> seen_in_old_;
  uint32_t stamp_ = 0;
  DiagonalArray<Diagonal> vf_;
  DiagonalArray<Diagonal> vb_;
  std::vector<EditOp> ops_;
};

template <typename Id>
size_t EditScript<Id>::common_prefix(size_t old_start, size_t old_end, size_t new_start, size_t new_end) const {
  size_t len = 0;
  while (old_start + len < old_end && new_start + len < new_end &&
         old_[old_start + len] == new_[new_start + len]) {
    ++len;
  }
  return len;
}

template <typename Id>
size_t EditScript<Id>::common_suffix(size_t old_start, size_t old_end, size_t new_start, size_t new_end) const {
  size_t len = 0;
  while (old_end - len > old_start && new_end - len > new_start &&
         old_[old_end - len - 1] == new_[new_end - len - 1]) {
    ++len;
  }
  return len;
}

// Line numbers are positions in both lists together, so they index an array
// of that size directly.
template <typename Id>
bool EditScript<Id>::ranges_share_a_line(size_t old_start, size_t old_end, size_t new_start, size_t new_end) {
  if (seen_in_old_.empty()) seen_in_old_.assign(old_.size() + new_.size(), 0);
  if (++stamp_ == 0) {  // wrapped: old stamps would read as fresh
    std::fill(seen_in_old_.begin(), seen_in_old_.end(), 0);
    stamp_ = 1;
  }
  for (size_t i = old_start; i < old_end; ++i) seen_in_old_[static_cast<size_t>(old_[i])] = stamp_;
  for (size_t j = new_start; j < new_end; ++j) {
    if (seen_in_old_[static_cast<size_t>(new_[j])] == stamp_) return true;
  }
  return false;
}

// The first diagonal k, counting down from k_high to k_low (both of the
// round's parity), where the path just played in one direction and the
// other direction's path on diagonal delta - k together span the range.
template <typename Id>
std::optional<ptrdiff_t> EditScript<Id>::first_overlap(DiagonalArray<Diagonal>& mine, DiagonalArray<Diagonal>& other,
                                                       ptrdiff_t k_high, ptrdiff_t k_low, ptrdiff_t delta,
                                                       ptrdiff_t n) {
  if (k_high < k_low) return std::nullopt;
  const Diagonal* mine_high = &mine[k_high];
  const Diagonal* other_low = &other[delta - k_high];
  const auto count = static_cast<Diagonal>((k_high - k_low) / 2 + 1);
  Diagonal t;
  if constexpr (std::is_same_v<Id, uint32_t>) {
    t = tracking::first_overlap(mine_high, other_low, count, static_cast<Diagonal>(n));
  } else {
    t = first_overlap_scalar(mine_high, other_low, count, static_cast<Diagonal>(n));
  }
  if (t < 0) return std::nullopt;
  return k_high - 2 * static_cast<ptrdiff_t>(t);
}

// Round d >= 1 of one direction; the bases are the positions of the first
// lines the direction reads (the ranges' last lines when backward).
template <typename Id>
bool EditScript<Id>::play_round(bool backward, size_t old_base, size_t new_base, ptrdiff_t n, ptrdiff_t m,
                                ptrdiff_t d, DiagonalArray<Diagonal>& v) {
  mark_round_edges(v, d);
  const DiagonalRound<Id, Diagonal> round{old_.data() + old_base,
                                          new_.data() + new_base,
                                          static_cast<Diagonal>(n),
                                          static_cast<Diagonal>(m),
                                          static_cast<Diagonal>(d),
                                          backward,
                                          v.row(1 - (d & 1)),
                                          v.row(d & 1)};
  if constexpr (std::is_same_v<Id, uint32_t>) {
    return play_diagonal_round(round);
  } else {
    return play_round_scalar(round, static_cast<Diagonal>(-d));
  }
}

// Searches from both corners at once, one edit deeper per round, until the
// forward and backward paths overlap on a diagonal. Coordinates are relative
// to the range starts; the backward search counts x and y from the ends. The
// returned split point is absolute.
template <typename Id>
std::optional<SplitPoint> EditScript<Id>::middle_snake(size_t old_start, size_t old_end, size_t new_start,
                                                       size_t new_end) {
  const auto n = static_cast<ptrdiff_t>(old_end - old_start);
  const auto m = static_cast<ptrdiff_t>(new_end - new_start);
  const ptrdiff_t delta = n - m;
  const bool odd = delta % 2 != 0;
  auto split = [&](ptrdiff_t x, ptrdiff_t y) {
    return SplitPoint{old_start + static_cast<size_t>(x), new_start + static_cast<size_t>(y)};
  };

  // A range whose old and new lines have nothing in common costs the search
  // its quadratic worst case for a split point known in advance. Checking
  // costs a pass over the range, so it is made once the rounds so far have
  // cost about as much, and only if no snake has shown a common line yet.
  bool met_common_line = false;
  ptrdiff_t check_round = search_ == Search::kFull ? -1 : 0;
  while (check_round >= 0 && check_round * check_round < n + m) ++check_round;

  const ptrdiff_t d_end = (n + m + 1) / 2 + 1;
  for (ptrdiff_t d = 0; d < d_end; ++d) {
    if (d == check_round && !met_common_line && !ranges_share_a_line(old_start, old_end, new_start, new_end)) {
      const SplitPoint at = split_without_common_lines(static_cast<size_t>(n), static_cast<size_t>(m));
      return SplitPoint{old_start + at.old_pos, new_start + at.new_pos};
    }
    const ptrdiff_t parity = d & 1;

    // Forward: each diagonal's furthest x, following equal lines from the
    // start of the range.
    if (d == 0) {
      vf_[0] = static_cast<ptrdiff_t>(common_prefix(old_start, old_end, new_start, new_end));
      met_common_line = met_common_line || vf_[0] > 0;
    } else {
      met_common_line |= play_round(false, old_start, new_start, n, m, d, vf_);
    }
    // With an odd delta the paths can first meet right after a forward step;
    // the first diagonal met in descending order is the split.
    if (odd) {
      if (const auto k = first_overlap(vf_, vb_, std::min(d, delta + d - 1), std::max(-d, delta - d + 1), delta, n)) {
        const ptrdiff_t x0 = round_start<Diagonal>(vf_.row(1 - parity), *k >> 1, parity);
        return split(x0, x0 - *k);
      }
    }

    // Backward: the same from the ends of the range.
    if (d == 0) {
      vb_[0] = static_cast<ptrdiff_t>(common_suffix(old_start, old_end, new_start, new_end));
      met_common_line = met_common_line || vb_[0] > 0;
    } else {
      met_common_line |= play_round(true, old_end - 1, new_end - 1, n, m, d, vb_);
    }
    // With an even delta they first meet right after a backward step.
    if (!odd) {
      if (const auto k = first_overlap(vb_, vf_, std::min(d, delta + d), std::max(-d, delta - d), delta, n)) {
        const ptrdiff_t x = vb_[*k];
        return split(n - x, m - (x - *k));
      }
    }
  }
  return std::nullopt;
}

template <typename Id>
void EditScript<Id>::conquer(size_t old_start, size_t old_end, size_t new_start, size_t new_end) {
  const size_t prefix = common_prefix(old_start, old_end, new_start, new_end);
  if (prefix > 0) {
    ops_.push_back(make_equal(old_start, new_start, prefix));
    old_start += prefix;
    new_start += prefix;
  }
  // The suffix is appended last, after everything between the cut ends.
  const size_t suffix = common_suffix(old_start, old_end, new_start, new_end);
  old_end -= suffix;
  new_end -= suffix;

  const bool old_empty = old_start == old_end;
  const bool new_empty = new_start == new_end;
  if (old_empty && new_empty) {
    // Nothing between prefix and suffix.
  } else if (new_empty) {
    ops_.push_back(make_delete(old_start, old_end - old_start, new_start));
  } else if (old_empty) {
    ops_.push_back(make_insert(old_start, new_start, new_end - new_start));
  } else if (const auto mid = middle_snake(old_start, old_end, new_start, new_end)) {
    conquer(old_start, mid->old_pos, new_start, mid->new_pos);
    conquer(mid->old_pos, old_end, mid->new_pos, new_end);
  } else {
    // The search bound always suffices for a minimal path; replacing the
    // whole range is the safe answer should it ever not.
    ops_.push_back(make_delete(old_start, old_end - old_start, new_start));
    ops_.push_back(make_insert(old_start, new_start, new_end - new_start));
  }

  if (suffix > 0) ops_.push_back(make_equal(old_end, new_end, suffix));
}

}  // namespace

template <typename Id>
std::vector<EditOp> edit_script(const std::vector<Id>& old_ids, const std::vector<Id>& new_ids, Search search) {
  EditScript<Id> script(old_ids, new_ids, search);
  script.conquer(0, old_ids.size(), 0, new_ids.size());
  return std::move(script).take();
}

template std::vector<EditOp> edit_script<uint32_t>(const std::vector<uint32_t>&, const std::vector<uint32_t>&,
                                                   Search);
template std::vector<EditOp> edit_script<uint64_t>(const std::vector<uint64_t>&, const std::vector<uint64_t>&,
                                                   Search);

}  // namespace zr::tracking
