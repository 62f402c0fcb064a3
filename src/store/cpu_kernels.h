// The store's byte scans built once per instruction set: one table per copy,
// and the choice among them (the mechanism is described in base/isa.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zr::store {

struct CpuKernels {
  const char* name;  // the copy's instruction set
  size_t (*find_needle_or_escape)(std::string_view text, size_t from, std::string_view needle);
  size_t (*find_line_structure)(std::string_view text, uint32_t* out);
};

// The table of the copy the entry points use: the fastest this CPU runs.
const CpuKernels& cpu_kernels();

// The table of every copy this CPU runs, the portable one first.
std::span<const CpuKernels* const> runnable_cpu_kernels();

}  // namespace zr::store
