// The line diff's search rounds built once per instruction set, as the rest
// of the code calls them: each hands over to the copy chosen for this CPU
// (see base/isa.h).
#include "tracking/cpu_kernels.h"

namespace zr::tracking {

ZR_ISA_CHOOSE_COPY(tracking)

bool play_diagonal_round(const DiagonalRound<uint32_t, int32_t>& round) {
  return cpu_kernels().play_diagonal_round(round);
}

int32_t first_overlap(const int32_t* mine, const int32_t* other, int32_t count, int32_t n) {
  return cpu_kernels().first_overlap(mine, other, count, n);
}

}  // namespace zr::tracking
