// One round of the line diff's search for a middle snake, built once per
// instruction set (see base/isa.h).
//
// The search keeps, per diagonal k, the furthest x a path with d edits
// reaches. Round d reads only round d - 1's values (the diagonals of the
// other parity), so every diagonal of a round can be worked on at once: the
// AVX2 copy does eight at a time and follows snakes of equal lines one by one
// only where one starts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/isa.h"

namespace zr::tracking {

// What one round of one direction works on. Lines are numbered (equal lines,
// equal numbers) and read through bases that the backward search points at
// the ranges' last lines, stepping down. Diagonal rows are indexed by
// k >> 1 (floor(k / 2)); the two diagonals just outside the round
// (k = -d - 1 and k = d + 1) hold a negative mark, so every diagonal starts
// from max(v[k + 1], v[k - 1] + 1) (see diff_search.cc).
template <typename Id, typename Diagonal>
struct DiagonalRound {
  const Id* old_base;
  const Id* new_base;
  Diagonal n, m, d;
  bool backward;
  const Diagonal* previous;  // round d - 1, the other parity
  Diagonal* current;         // round d
};

// Where a path on diagonal k = 2j + parity starts, before its snake.
template <typename Diagonal>
inline Diagonal round_start(const Diagonal* previous, Diagonal j, Diagonal parity) {
  return std::max(previous[j + parity], static_cast<Diagonal>(previous[j + parity - 1] + 1));
}

// Plays diagonals k_from, k_from + 2, ... up to round.d, one at a time.
// Returns whether a snake followed any equal lines.
template <typename Id, typename Diagonal>
bool play_round_scalar(const DiagonalRound<Id, Diagonal>& round, Diagonal k_from) {
  const Id* old_base = round.old_base;
  const Id* new_base = round.new_base;
  const Diagonal step = round.backward ? -1 : 1;
  const Diagonal parity = round.d & 1;
  bool met_common_line = false;
  for (Diagonal k = k_from, j = k_from >> 1; k <= round.d; k += 2, ++j) {
    Diagonal x = round_start(round.previous, j, parity);
    Diagonal y = x - k;
    if (x < round.n && y >= 0 && y < round.m && old_base[x * step] == new_base[y * step]) {
      met_common_line = true;
      do ++x, ++y;
      while (x < round.n && y < round.m && old_base[x * step] == new_base[y * step]);
    }
    round.current[j] = x;
  }
  return met_common_line;
}

// The overlap test of a round: the first t in 0, 1, ..., count - 1 with
// mine[-t] + other[t] >= n, or -1. The caller points mine at the diagonal
// just played where the test starts (the highest k) and other at the other
// direction's diagonal delta - k, so t walks k down and delta - k up.
template <typename Diagonal>
Diagonal first_overlap_scalar(const Diagonal* mine, const Diagonal* other, Diagonal count, Diagonal n,
                              Diagonal t_from = 0) {
  for (Diagonal t = t_from; t < count; ++t) {
    if (mine[-t] + other[t] >= n) return t;
  }
  return -1;
}

ZR_ISA_BEGIN
// Plays round d >= 1 over every diagonal -d, -d + 2, ..., d.
bool play_diagonal_round(const DiagonalRound<uint32_t, int32_t>& round);
int32_t first_overlap(const int32_t* mine, const int32_t* other, int32_t count, int32_t n);
ZR_ISA_END

}  // namespace zr::tracking
