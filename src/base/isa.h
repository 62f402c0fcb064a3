// Code built once per instruction set, and the choice of copy per CPU.
//
// Why copies. The module runs on any x86-64 CPU, but a few routines (the JSON
// parser, its fast canonical form and string writer, the byte scans of the
// store, the diagonal round of the line diff) are several times faster with
// AVX2. So their sources are compiled once per instruction set, and the copy
// the CPU in hand runs is chosen when first used.
//
// How a copy is compiled. CMakeLists.txt lists these sources (ZR_ISA_SOURCES)
// and compiles them once per instruction set built, defining ZR_ISA to its
// name: `portable` (the x86-64 baseline, the flags of everything else) and,
// unless ZR_PORTABLE_ONLY, `x86_64_v3` (-march=x86-64-v3 -mpclmul: AVX2, BMI,
// LZCNT, MOVBE, plus carry-less multiply for the parser; when it is built,
// the core's code compiled once sees ZR_ISA_X86_64_V3 defined, so that the
// rooms list its tables). Everything else is compiled once, for every CPU,
// without ZR_ISA.
//
// The namespaces. A header wraps the declarations of such routines in
// ZR_ISA_BEGIN and ZR_ISA_END, and their sources wrap the definitions the
// same way. Compiled as a copy, the names land in an inline namespace named
// after the instruction set (zr::json::x86_64_v3::append_string): the copies
// never share a name, and code inside a copy calls its own copy's routines
// by their plain names. Compiled once, the same declarations name the entry
// points (zr::json::append_string) that the rest of the code calls and that
// hand each call to the chosen copy. A copy may call code compiled once
// (json::append_float, say): such a call stays a reference to it.
//
// The tables. Each room with such routines (json, store, tracking) reaches
// its copies through a table of its own, so that it uses only itself and the
// rooms below it:
//   <room>/cpu_kernels.h         the table (a pointer per routine and the
//                                copy's name), and the room's access to it;
//   <room>/cpu_kernel_table.cc   compiled once per copy (it is in
//                                ZR_ISA_SOURCES): fills the table with that
//                                copy's routines (ZR_ISA_COPY_TABLE), under
//                                the C name ZR_ISA_TABLE_NAME(room), that is
//                                zr_<room>_kernels_<instruction set>;
//   <room>/cpu_entry_points.cc   compiled once: lists the room's tables and
//                                picks one (ZR_ISA_CHOOSE_COPY), and defines
//                                the entry points, each a call through it.
// A class cannot be handed over routine by routine: json::Parser implements
// json::ParserBase, and the table makes the copy's Parser, which the entry
// point's Parser then calls through that interface.
//
// The partial link. Inline functions and template instances (std::vector's,
// simdjson's) come out of every compilation under the same names, and the
// linker would keep one of each for every caller: AVX2 code for a baseline
// caller, say. So the objects of one copy are merged into one by
// `ld -r --force-group-allocation` (which settles their COMDAT groups inside
// the copy), and objcopy then makes every symbol of it local except the
// tables (--keep-global-symbol, wildcard zr_*_kernels_<instruction set>): a
// copy is reached only through its tables and shares nothing with the other
// copies or the rest of the code. One merge per instruction set covers all
// rooms, so an inline routine that several rooms' copies use is kept once
// per copy. A generated linker script puts the copy's code into a section
// named after it (zr_isa_x86_64_v3); static initialisers (.text.startup) stay
// out, since they run on every CPU. This needs GNU ld (the fuzz build, whose
// clang would link with lld, names ld.bfd).
//
// The choice. base/cpu_choice.cc asks the CPU once whether it runs
// x86-64-v3 code (with carry-less multiply). A room's entry points use the
// table of the fastest copy built that the CPU runs (fastest_runnable_copy),
// chosen on first use; runnable_copies lists every copy the CPU runs,
// portable first, for tests/unit/isa_kernels_test.cc, which compares each
// with the portable copy, and for bench/isa_kernels_bench.cc.
//
// The check. scripts/check_isa.sh disassembles the module and fails on any
// instruction above the x86-64 baseline outside the section zr_isa_x86_64_v3
// (so anywhere, with ZR_PORTABLE_ONLY): a routine that escaped its copy, or
// a static initialiser compiled for more than the baseline, is caught there.
//
// Adding a routine to a room that has a table:
//   1. declare it in its header between ZR_ISA_BEGIN and ZR_ISA_END, and
//      wrap its definition the same way (a new source file goes into
//      ZR_ISA_SOURCES);
//   2. add its pointer to <room>/cpu_kernels.h and fill it in
//      <room>/cpu_kernel_table.cc;
//   3. define its entry point in <room>/cpu_entry_points.cc;
//   4. compare the copies in tests/unit/isa_kernels_test.cc.
// A room's first such routine also brings the room's three files above, and
// its cpu_kernel_table.cc into ZR_ISA_SOURCES.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#if defined(ZR_ISA)
#define ZR_ISA_BEGIN inline namespace ZR_ISA {
#define ZR_ISA_END }
#else
#define ZR_ISA_BEGIN
#define ZR_ISA_END
#endif

#define ZR_ISA_CONCAT_(a, b) a##b
#define ZR_ISA_CONCAT(a, b) ZR_ISA_CONCAT_(a, b)
#define ZR_ISA_STRINGIFY_(x) #x
#define ZR_ISA_STRINGIFY(x) ZR_ISA_STRINGIFY_(x)

#if defined(ZR_ISA)
// In a room's cpu_kernel_table.cc: the C name of its table in this copy.
#define ZR_ISA_TABLE_NAME(room) ZR_ISA_CONCAT(zr_##room##_kernels_, ZR_ISA)
// The name of this copy's instruction set, for its tables.
#define ZR_ISA_NAME ZR_ISA_STRINGIFY(ZR_ISA)
// In a room's cpu_kernel_table.cc, in the room's namespace: declares and
// begins the definition of this copy's table of the room's CpuKernels type,
// to be followed by its braced initialiser. Only a copy's compilation knows
// the macro, so a table file built for the rest of the code fails to compile.
#define ZR_ISA_COPY_TABLE(room)                      \
  extern "C" const CpuKernels ZR_ISA_TABLE_NAME(room); \
  extern "C" const CpuKernels ZR_ISA_TABLE_NAME(room)
#endif

// In a room's cpu_entry_points.cc: declares the room's table in every copy
// built and lists them, portable first, as the array `list`.
#if defined(ZR_ISA_X86_64_V3)
#define ZR_ISA_BUILT_TABLES(Table, room, list)                                      \
  extern "C" const Table zr_##room##_kernels_portable, zr_##room##_kernels_x86_64_v3; \
  constexpr std::array<const Table*, 2> list = {&zr_##room##_kernels_portable, &zr_##room##_kernels_x86_64_v3}
#else
#define ZR_ISA_BUILT_TABLES(Table, room, list)    \
  extern "C" const Table zr_##room##_kernels_portable; \
  constexpr std::array<const Table*, 1> list = {&zr_##room##_kernels_portable}
#endif

// In a room's cpu_entry_points.cc, in the room's namespace: defines the two
// functions every room's cpu_kernels.h declares, cpu_kernels() (the table of
// the fastest copy this CPU runs, chosen once) and runnable_cpu_kernels()
// (every copy this CPU runs, portable first, for the tests that compare them).
#define ZR_ISA_CHOOSE_COPY(room)                                                   \
  ZR_ISA_BUILT_TABLES(CpuKernels, room, kBuiltTables);                              \
  const CpuKernels& cpu_kernels() {                                                 \
    static const CpuKernels& chosen = base::fastest_runnable_copy(kBuiltTables);    \
    return chosen;                                                                  \
  }                                                                                 \
  std::span<const CpuKernels* const> runnable_cpu_kernels() { return base::runnable_copies(kBuiltTables); }

namespace zr::base {

// How many of `built` copies (portable, then x86-64-v3) this CPU runs.
size_t runnable_copy_count(size_t built);

// The tables, out of a room's `built` ones, of the copies this CPU runs:
// the portable one first.
template <typename Table, size_t kBuilt>
std::span<const Table* const> runnable_copies(const std::array<const Table*, kBuilt>& built) {
  return std::span<const Table* const>(built.data(), runnable_copy_count(kBuilt));
}

// The table of the fastest copy this CPU runs.
template <typename Table, size_t kBuilt>
const Table& fastest_runnable_copy(const std::array<const Table*, kBuilt>& built) {
  return *built[runnable_copy_count(kBuilt) - 1];
}

}  // namespace zr::base
