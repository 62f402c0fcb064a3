// The JSON routines built once per instruction set: one table per copy, and
// the choice among them (the mechanism is described in base/isa.h).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "json/parse.h"

namespace zr::json {

struct CpuKernels {
  const char* name;  // the copy's instruction set
  std::unique_ptr<ParserBase> (*new_parser)();
  size_t (*required_padding)();
  void (*append_string)(std::string& out, std::string_view s);
  bool (*append_string_from_escaped)(std::string& out, std::string_view escaped);
};

// The table of the copy the entry points use: the fastest this CPU runs.
const CpuKernels& cpu_kernels();

// The table of every copy this CPU runs, the portable one first.
std::span<const CpuKernels* const> runnable_cpu_kernels();

}  // namespace zr::json
