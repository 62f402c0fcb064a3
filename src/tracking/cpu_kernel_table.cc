// This copy's table of the line diff's search rounds (compiled once per
// instruction set, like the routines it lists; see base/isa.h).
#include "tracking/cpu_kernels.h"

#if !defined(ZR_ISA)
#error "compiled only as one instruction set's copy"
#endif

namespace zr::tracking {

extern "C" const CpuKernels ZR_ISA_TABLE_NAME(tracking);
extern "C" const CpuKernels ZR_ISA_TABLE_NAME(tracking) = {
    ZR_ISA_NAME,
    &play_diagonal_round,
    &first_overlap,
};

}  // namespace zr::tracking
