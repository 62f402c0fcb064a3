// This copy's table of the line diff's search rounds (compiled once per
// instruction set, like the routines it lists; see base/isa.h).
#include "tracking/cpu_kernels.h"

namespace zr::tracking {

ZR_ISA_COPY_TABLE(tracking) = {
    ZR_ISA_NAME,
    &play_diagonal_round,
    &first_overlap,
};

}  // namespace zr::tracking
