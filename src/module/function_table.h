// The module's functions: one declarative record each.
#pragma once

#include <vector>

#include "module/function_record.h"

namespace zr::module {

// Upper bound on the number of functions (the module's trampolines are
// instantiated this many times).
inline constexpr size_t kMaxFunctions = 48;

// Each subsystem lists its own functions (module/functions_<subsystem>.cc).
std::vector<FunctionRecord> store_functions();
std::vector<FunctionRecord> tracking_functions();
std::vector<FunctionRecord> registry_functions();
std::vector<FunctionRecord> index_functions();
std::vector<FunctionRecord> removal_functions();
std::vector<FunctionRecord> token_index_functions();
std::vector<FunctionRecord> maintenance_functions();

// Every function of the module, in registration order.
const std::vector<FunctionRecord>& function_table();

}  // namespace zr::module
