// The table of every Python-callable function. Each record names the
// parameters and their kinds; its invoke function only calls the operation
// and converts the result, so binding and conversion rules live in one place
// (binder.cc).
#include "module/function_table.h"

namespace zr::module {

const std::vector<FunctionSpec>& function_table() {
  static const std::vector<FunctionSpec> table = [] {
    std::vector<FunctionSpec> all;
    for (auto part : {store_functions, tracking_functions, registry_functions, index_functions, removal_functions,
                      token_index_functions, maintenance_functions}) {
      for (FunctionSpec& spec : part()) all.push_back(std::move(spec));
    }
    return all;
  }();
  return table;
}

}  // namespace zr::module
