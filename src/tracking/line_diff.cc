// Line diff in four stages: a minimal edit script (Myers's O(ND) algorithm in
// its linear-space divide-and-conquer form), a compaction pass that slides and
// merges insertion and deletion blocks, a merging pass that joins neighbouring
// deletions and insertions into replacements, and the conversion to opcodes.
// Blame carried across versions depends on which lines are paired, so every
// stage follows a fixed order of operations; do not "simplify" the tie-breaks.
//
// The stages only ever ask whether two lines are equal. Lines are first
// numbered by content (equal lines, equal numbers), and the stages compare
// the numbers: the divide-and-conquer search asks about the same pairs again
// at every level of its recursion, and a comparison of two integers from two
// small arrays costs far less than a walk over the lines' bytes.
#include "tracking/line_diff.h"

#include "tracking/diagonal_round.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace zr::tracking {
namespace {

// Length first: most differing lines differ in length, so their bytes are
// never touched.
bool same_line(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// ---------------------------------------------------------------------------
// Line numbering. A line's number is the position of the first line with the
// same content in the old lines followed by the new ones, so two lines are
// equal exactly when their numbers are.

uint64_t load64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint64_t mix(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

// A fast 64-bit hash of a line's bytes (multiply-and-fold, three independent
// lanes for long lines). Only spreads lines over the table: equality is
// always decided by the bytes.
uint64_t hash_line(std::string_view line) {
  constexpr uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull, k2 = 0x8ebc6af09c88c6e3ull,
                     k3 = 0x589965cc75374cc3ull;
  const char* p = line.data();
  size_t n = line.size();
  uint64_t h = (n * k0) ^ k1;
  uint64_t a = 0, b = 0;
  if (n > 16) {
    uint64_t h2 = h, h3 = h;
    while (n > 48) {
      h = mix(load64(p) ^ k1, load64(p + 8) ^ h);
      h2 = mix(load64(p + 16) ^ k2, load64(p + 24) ^ h2);
      h3 = mix(load64(p + 32) ^ k3, load64(p + 40) ^ h3);
      p += 48;
      n -= 48;
    }
    h ^= h2 ^ h3;
    while (n > 16) {
      h = mix(load64(p) ^ k1, load64(p + 8) ^ h);
      p += 16;
      n -= 16;
    }
    // The last 16 bytes, overlapping what was already mixed if need be.
    a = load64(p + n - 16);
    b = load64(p + n - 8);
  } else if (n >= 8) {
    a = load64(p);
    b = load64(p + n - 8);
  } else if (n >= 4) {
    uint32_t x, y;
    std::memcpy(&x, p, 4);
    std::memcpy(&y, p + n - 4, 4);
    a = x;
    b = y;
  } else if (n > 0) {
    a = static_cast<uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
        static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 | static_cast<unsigned char>(p[n - 1]);
  }
  return mix(a ^ k2, b ^ h ^ k3);
}

template <typename Id>
struct NumberedLines {
  std::vector<Id> old_ids;
  std::vector<Id> new_ids;
  bool shared = false;  // some old line also occurs among the new ones
};

// Open addressing over a power-of-two table at most two-thirds full. A slot
// keeps the high half of the line's hash (to skip most byte comparisons) and
// its number plus one (0 marks an empty slot).
template <typename Id, typename LineList>
NumberedLines<Id> number_lines(const LineList& old_lines, const LineList& new_lines) {
  struct Slot {
    uint32_t tag;
    Id number_plus_one;
  };
  const size_t total = old_lines.size() + new_lines.size();
  size_t capacity = 16;
  while (capacity < total + total / 2) capacity <<= 1;
  const size_t mask = capacity - 1;
  std::vector<Slot> slots(capacity, Slot{0, 0});
  auto line_at = [&](size_t number) -> std::string_view {
    return number < old_lines.size() ? old_lines[number] : new_lines[number - old_lines.size()];
  };
  auto number_of = [&](std::string_view line, size_t position) -> Id {
    const uint64_t h = hash_line(line);
    const auto tag = static_cast<uint32_t>(h >> 32);
    for (size_t s = h & mask;; s = (s + 1) & mask) {
      Slot& slot = slots[s];
      if (slot.number_plus_one == 0) {
        slot = Slot{tag, static_cast<Id>(position + 1)};
        return static_cast<Id>(position);
      }
      if (slot.tag == tag && same_line(line_at(slot.number_plus_one - 1), line)) return slot.number_plus_one - 1;
    }
  };

  NumberedLines<Id> out;
  out.old_ids.reserve(old_lines.size());
  out.new_ids.reserve(new_lines.size());
  if (old_lines.empty() || new_lines.empty()) {
    // The stages only ever compare an old line with a new one, so with one
    // side empty the numbers are never read: positions will do.
    for (size_t i = 0; i < old_lines.size(); ++i) out.old_ids.push_back(static_cast<Id>(i));
    for (size_t j = 0; j < new_lines.size(); ++j) out.new_ids.push_back(static_cast<Id>(old_lines.size() + j));
    return out;
  }
  for (size_t i = 0; i < old_lines.size(); ++i) out.old_ids.push_back(number_of(old_lines[i], i));
  // A new line usually repeats the old line after the one that the previous
  // new line repeated: trying that line first spares most new lines the hash
  // and the table. The guess only saves work; a miss falls back to the table.
  size_t guess = 0;
  for (size_t j = 0; j < new_lines.size(); ++j) {
    Id number;
    if (guess < old_lines.size() && same_line(old_lines[guess], new_lines[j])) {
      number = out.old_ids[guess++];
    } else {
      number = number_of(new_lines[j], old_lines.size() + j);
      if (number < old_lines.size()) guess = static_cast<size_t>(number) + 1;
    }
    out.shared = out.shared || number < old_lines.size();
    out.new_ids.push_back(number);
  }
  return out;
}

// One operation of the edit script. A deletion has new_len 0, an insertion
// old_len 0 and an equal run the same length on both sides, so one layout
// serves every kind: merging two operations of the same kind adds both
// lengths, and the opcode is read off the fields directly.
struct Op {
  DiffTag tag;
  size_t old_index, old_len, new_index, new_len;

  size_t old_end() const { return old_index + old_len; }
  size_t new_end() const { return new_index + new_len; }
  bool empty() const { return old_len == 0 && new_len == 0; }
};

Op make_equal(size_t old_index, size_t new_index, size_t len) {
  return {DiffTag::kEqual, old_index, len, new_index, len};
}
Op make_delete(size_t old_index, size_t old_len, size_t new_index) {
  return {DiffTag::kDelete, old_index, old_len, new_index, 0};
}
Op make_insert(size_t old_index, size_t new_index, size_t new_len) {
  return {DiffTag::kInsert, old_index, 0, new_index, new_len};
}
Op make_replace(const Op& deletion, const Op& insertion) {
  return {DiffTag::kReplace, deletion.old_index, deletion.old_len, insertion.new_index, insertion.new_len};
}

// ---------------------------------------------------------------------------
// Stage 1: minimal edit script.

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

// Whether the search may skip rounds it can predict. The full search exists
// so that tests can compare the two.
enum class Search { kWithShortcuts, kFull };

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

  std::vector<Op> take() && { return std::move(ops_); }

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
  std::vector<Op> ops_;
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

// ---------------------------------------------------------------------------
// Stage 2: compaction. Myers's script places a change wherever the search met
// it; sliding insertions over repeated unchanged lines and gathering adjacent
// changes of one kind gives one predictable block per change. The list is
// edited in place while it is walked, so positions are passed and returned.

template <typename Id>
class Compactor {
 public:
  Compactor(const std::vector<Id>& old_lines, const std::vector<Id>& new_lines, std::vector<Op>& ops)
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
  size_t common_tail(const Op& equal, const Op& change) const {
    size_t s = 0;
    while (s < equal.old_len && s < change.new_len &&
           old_[equal.old_end() - s - 1] == new_[change.new_end() - s - 1]) {
      ++s;
    }
    return s;
  }

  // Lines shared by the start of an equal run's old range and the start of a
  // change's new range.
  size_t common_head(const Op& equal, const Op& change) const {
    size_t s = 0;
    while (s < equal.old_len && s < change.new_len &&
           old_[equal.old_index + s] == new_[change.new_index + s]) {
      ++s;
    }
    return s;
  }

  void erase_at(size_t p) { ops_.erase(ops_.begin() + static_cast<ptrdiff_t>(p)); }
  void insert_at(size_t p, const Op& op) { ops_.insert(ops_.begin() + static_cast<ptrdiff_t>(p), op); }

  const std::vector<Id>& old_;
  const std::vector<Id>& new_;
  std::vector<Op>& ops_;
};

// Moves the change at p towards the start of the list; returns its position.
template <typename Id>
size_t Compactor<Id>::shift_up(size_t p) {
  while (p > 0) {
    Op& prev = ops_[p - 1];
    Op& cur = ops_[p];
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
      const Op carried = make_equal(prev.old_end() - s, cur.new_end() - s, s);
      cur.old_index -= s;
      cur.new_index -= s;
      prev.old_len -= s;
      prev.new_len -= s;
      const bool prev_emptied = prev.empty();
      if (p + 1 < ops_.size() && ops_[p + 1].tag == DiffTag::kEqual) {
        Op& next = ops_[p + 1];
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
    Op& cur = ops_[p];
    Op& next = ops_[p + 1];
    if (next.tag == DiffTag::kEqual) {
      const size_t s = common_head(next, cur);
      if (s == 0) {
        if (!next.empty()) break;
        erase_at(p + 1);
        continue;
      }
      // The first s unchanged lines repeat the change's first s lines: the
      // change moves down by s and those lines become unchanged before it.
      const Op carried = make_equal(next.old_index, cur.new_index, s);
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
  void add(const Op& op) {
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

  std::vector<Op> finish() && {
    flush_equal();
    flush_changes();
    return std::move(out_);
  }

 private:
  // A pending operation grows by the lengths of the next one of its kind and
  // keeps its own indices.
  static void extend(std::optional<Op>& pending, const Op& op) {
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

  std::optional<Op> equal_, deletion_, insertion_;
  std::vector<Op> out_;
};

// ---------------------------------------------------------------------------
// Stage 4: opcodes. Every kind reads the same way thanks to the Op layout
// (an empty side has length 0).

DiffOpcode to_opcode(const Op& op) { return {op.tag, op.old_index, op.old_end(), op.new_index, op.new_end()}; }

}  // namespace

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

// Stages 1 to 3 over numbered lines.
template <typename Id>
std::vector<Op> diff_numbered(const NumberedLines<Id>& lines, Search search) {
  const size_t n = lines.old_ids.size();
  const size_t m = lines.new_ids.size();
  // With no line in common the edit script holds only deletions and
  // insertions, in path order, so the first of each starts at line 0 of its
  // side. Compaction finds no equal lines to slide over: it only gathers each
  // kind into one block that keeps the first one's indices, and merging
  // pairs the two blocks. The result is always this one replacement, which
  // spares the search its quadratic worst case.
  if (search == Search::kWithShortcuts && n > 0 && m > 0 && !lines.shared) {
    return {make_replace(make_delete(0, n, 0), make_insert(0, 0, m))};
  }

  EditScript<Id> script(lines.old_ids, lines.new_ids, search);
  script.conquer(0, n, 0, m);
  std::vector<Op> ops = std::move(script).take();

  Compactor<Id>(lines.old_ids, lines.new_ids, ops).run();

  Merger merger;
  for (const Op& op : ops) merger.add(op);
  return std::move(merger).finish();
}

template <typename LineList>
std::vector<DiffOpcode> diff_lines(const LineList& old_lines, const LineList& new_lines, Search search) {
  // Numbers are positions in both lists together; 32 bits (31 for the
  // search's signed diagonals, with room for its offsets) suffice for any
  // input that fits in memory today, and keep the arrays small.
  const size_t total = old_lines.size() + new_lines.size();
  const std::vector<Op> merged = total < std::numeric_limits<int32_t>::max() / 2
                                     ? diff_numbered(number_lines<uint32_t>(old_lines, new_lines), search)
                                     : diff_numbered(number_lines<uint64_t>(old_lines, new_lines), search);

  std::vector<DiffOpcode> opcodes;
  opcodes.reserve(merged.size());
  for (const Op& op : merged) opcodes.push_back(to_opcode(op));
  return opcodes;
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
