// The per-instruction-set copy of a search round.
#include "tracking/diagonal_round.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace zr::tracking {
ZR_ISA_BEGIN

bool play_diagonal_round(const DiagonalRound<uint32_t, int32_t>& round) {
  int32_t k = -round.d;
  bool met_common_line = false;
#if defined(__AVX2__)
  // Eight diagonals k, k + 2, ..., k + 14 at a time. Lanes whose start lies
  // outside the ranges gather nothing; a block where some lane starts on a
  // pair of equal lines goes through the scalar loop, which follows snakes.
  const int32_t parity = round.d & 1;
  const __m256i lane_k = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i n = _mm256_set1_epi32(round.n);
  const __m256i m = _mm256_set1_epi32(round.m);
  const __m256i minus_one = _mm256_set1_epi32(-1);
  const __m256i step = _mm256_set1_epi32(round.backward ? -1 : 1);
  const int* old_base = reinterpret_cast<const int*>(round.old_base);
  const int* new_base = reinterpret_cast<const int*>(round.new_base);
  for (; k + 14 <= round.d; k += 16) {
    const int32_t j = k >> 1;
    const __m256i down = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(round.previous + j + parity));
    const __m256i right = _mm256_add_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(round.previous + j + parity - 1)), one);
    const __m256i x = _mm256_max_epi32(down, right);
    const __m256i y = _mm256_sub_epi32(x, _mm256_add_epi32(_mm256_set1_epi32(k), lane_k));
    // x < n, y >= 0 (y > -1) and y < m.
    const __m256i inside = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpgt_epi32(n, x), _mm256_cmpgt_epi32(y, minus_one)), _mm256_cmpgt_epi32(m, y));
    int found = 0;
    if (!_mm256_testz_si256(inside, inside)) {
      const __m256i old_lines =
          _mm256_mask_i32gather_epi32(minus_one, old_base, _mm256_mullo_epi32(x, step), inside, 4);
      const __m256i new_lines =
          _mm256_mask_i32gather_epi32(minus_one, new_base, _mm256_mullo_epi32(y, step), inside, 4);
      const __m256i equal = _mm256_and_si256(_mm256_cmpeq_epi32(old_lines, new_lines), inside);
      found = _mm256_movemask_epi8(equal);
    }
    if (found != 0) {
      DiagonalRound<uint32_t, int32_t> block = round;
      block.d = k + 14;
      met_common_line = play_round_scalar(block, k) || met_common_line;
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(round.current + j), x);
    }
  }
#endif
  return play_round_scalar(round, k) || met_common_line;
}

int32_t first_overlap(const int32_t* mine, const int32_t* other, int32_t count, int32_t n) {
  int32_t t = 0;
#if defined(__AVX2__)
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const __m256i below = _mm256_set1_epi32(n - 1);
  for (; t + 8 <= count; t += 8) {
    const __m256i down =
        _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mine - t - 7)), reverse);
    const __m256i up = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other + t));
    const int met = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_add_epi32(down, up), below)));
    if (met != 0) return t + __builtin_ctz(static_cast<unsigned>(met));
  }
#endif
  return first_overlap_scalar(mine, other, count, n, t);
}

ZR_ISA_END
}  // namespace zr::tracking
