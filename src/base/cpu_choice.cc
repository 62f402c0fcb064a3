// Which of the copies built once per instruction set this CPU runs (see
// base/isa.h). Compiled for every CPU, like all code outside the copies: it
// runs before any copy is chosen.
#include <algorithm>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "base/isa.h"

namespace zr::base {

namespace {

bool runs_x86_64_v3() {
#if defined(__x86_64__)
  // What -march=x86-64-v3 assumes (the check includes the operating
  // system's support for the AVX registers), plus carry-less multiply for
  // the parser.
  __builtin_cpu_init();
#if defined(__clang__) && __clang_major__ < 19
  // Older clang (the fuzz build's) knows no level names: the level's
  // features one by one, through cpuid for those it cannot name.
  unsigned eax, ebx, ecx, edx;
  const bool movbe_f16c = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_MOVBE) && (ecx & bit_F16C);
  const bool lzcnt = __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) && (ecx & bit_LZCNT);
  return movbe_f16c && lzcnt && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("pclmul");
#else
  return __builtin_cpu_supports("x86-64-v3") && __builtin_cpu_supports("pclmul");
#endif
#else
  return false;
#endif
}

}  // namespace

size_t runnable_copy_count(size_t built) {
  static const size_t runnable = runs_x86_64_v3() ? 2 : 1;
  return std::min(built, runnable);
}

}  // namespace zr::base
