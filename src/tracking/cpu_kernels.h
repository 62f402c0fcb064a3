// The line diff's search rounds built once per instruction set: one table per
// copy, and the choice among them (the mechanism is described in
// base/isa.h).
#pragma once

#include <cstdint>
#include <span>

#include "tracking/diagonal_round.h"

namespace zr::tracking {

struct CpuKernels {
  const char* name;  // the copy's instruction set
  bool (*play_diagonal_round)(const DiagonalRound<uint32_t, int32_t>& round);
  int32_t (*first_overlap)(const int32_t* mine, const int32_t* other, int32_t count, int32_t n);
};

// The table of the copy the entry points use: the fastest this CPU runs.
const CpuKernels& cpu_kernels();

// The table of every copy this CPU runs, the portable one first.
std::span<const CpuKernels* const> runnable_cpu_kernels();

}  // namespace zr::tracking
