#include "module/function_table.h"
#include "module/to_python.h"

namespace zr::module {

std::vector<FunctionSpec> registry_functions() { return {}; }

}  // namespace zr::module
