#include <array>

#include "isa/kernels.h"

// The tables of the copies built (kernel_table.cc, once per copy).
extern "C" const zr::isa::Kernels zr_isa_kernels_portable;
#if defined(ZR_ISA_X86_64_V3)
extern "C" const zr::isa::Kernels zr_isa_kernels_x86_64_v3;
#endif

namespace zr::isa {

namespace {

// Compiled for every CPU, like all of this file: it runs before any copy is
// chosen.
bool runs_x86_64_v3() {
#if defined(__x86_64__)
  // What -march=x86-64-v3 assumes (the check includes the operating
  // system's support for the AVX registers), plus carry-less multiply for
  // the parser.
  __builtin_cpu_init();
  return __builtin_cpu_supports("x86-64-v3") && __builtin_cpu_supports("pclmul");
#else
  return false;
#endif
}

struct Runnable {
  std::array<const Kernels*, 2> tables{};
  size_t count = 0;
};

Runnable find_runnable() {
  Runnable r;
  r.tables[r.count++] = &zr_isa_kernels_portable;
#if defined(ZR_ISA_X86_64_V3)
  if (runs_x86_64_v3()) r.tables[r.count++] = &zr_isa_kernels_x86_64_v3;
#endif
  return r;
}

const Runnable& runnable() {
  static const Runnable r = find_runnable();
  return r;
}

}  // namespace

ParserKernel::~ParserKernel() = default;

const Kernels& active_kernels() {
  static const Kernels& chosen = *runnable().tables[runnable().count - 1];
  return chosen;
}

std::span<const Kernels* const> runnable_kernels() {
  return std::span<const Kernels* const>(runnable().tables.data(), runnable().count);
}

}  // namespace zr::isa
