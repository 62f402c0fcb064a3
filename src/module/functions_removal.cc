#include "module/function_table.h"
#include "module/to_python.h"

namespace zr::module {

std::vector<FunctionSpec> removal_functions() { return {}; }

}  // namespace zr::module
