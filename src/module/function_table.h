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

// Upper bound on the number of functions (the module's trampolines are
// instantiated this many times).
inline constexpr size_t kMaxFunctions = 48;

// Each subsystem lists its own functions (module/functions_<subsystem>.cc).
std::vector<FunctionSpec> store_functions();
std::vector<FunctionSpec> tracking_functions();
std::vector<FunctionSpec> registry_functions();
std::vector<FunctionSpec> index_functions();
std::vector<FunctionSpec> removal_functions();
std::vector<FunctionSpec> token_index_functions();
std::vector<FunctionSpec> maintenance_functions();

// Every function of the module, in registration order.
const std::vector<FunctionSpec>& function_table();

}  // namespace zr::module
