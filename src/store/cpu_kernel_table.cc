// This copy's table of the store's byte scans (compiled once per instruction
// set, like the scans it lists; see base/isa.h).
#include "base/isa.h"
#include "store/candidate_lines.h"
#include "store/cpu_kernels.h"
#include "store/string_set_lines.h"

namespace zr::store {

ZR_ISA_COPY_TABLE(store) = {
    ZR_ISA_NAME,
    &find_needle_or_escape,
    &find_line_structure,
};

}  // namespace zr::store
