// The module's functions: one declarative record each.
#pragma once

#include <Python.h>

#include <array>
#include <vector>

#include "module/arguments.h"

namespace zr::module {

struct FunctionSpec {
  const char* name;
  // The text signature exactly as Python shows it, e.g. "init(zr_dir)".
  const char* signature;
  // Extra docstring after the signature, or nullptr.
  const char* doc;
  std::vector<ParamSpec> params;
  // Runs the operation on the converted arguments and converts its result;
  // returns a new reference, or nullptr with a Python exception set.
  PyObject* (*invoke)(const Args& args);
};

inline constexpr size_t kFunctionCount = 8;

const std::array<FunctionSpec, kFunctionCount>& function_table();

}  // namespace zr::module
