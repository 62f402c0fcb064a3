// The store's byte scans built once per instruction set, as the rest of the
// code calls them: each hands over to the copy chosen for this CPU (see
// base/isa.h).
#include "base/isa.h"
#include "store/candidate_lines.h"
#include "store/cpu_kernels.h"
#include "store/string_set_lines.h"

namespace zr::store {

ZR_ISA_CHOOSE_COPY(store)

size_t find_needle_or_escape(std::string_view text, size_t from, std::string_view needle) {
  return cpu_kernels().find_needle_or_escape(text, from, needle);
}

size_t find_line_structure(std::string_view text, uint32_t* out) {
  return cpu_kernels().find_line_structure(text, out);
}

}  // namespace zr::store
