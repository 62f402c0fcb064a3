// This copy's table of the store's byte scans (compiled once per instruction
// set, like the scans it lists; see base/isa.h).
#include "base/isa.h"
#include "store/candidate_lines.h"
#include "store/cpu_kernels.h"
#include "store/string_set_lines.h"

#if !defined(ZR_ISA)
#error "compiled only as one instruction set's copy"
#endif

namespace zr::store {

extern "C" const CpuKernels ZR_ISA_TABLE_NAME(store);
extern "C" const CpuKernels ZR_ISA_TABLE_NAME(store) = {
    ZR_ISA_NAME,
    &find_needle_or_escape,
    &find_line_structure,
};

}  // namespace zr::store
