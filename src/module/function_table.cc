// The table of every Python-callable function. Each record lists its typed
// parameters and its operation; binding lives in one place (binder.cc), the
// conversion of each kind in another (from_python.cc).
#include "module/function_table.h"

namespace zr::module {

const std::vector<FunctionRecord>& function_table() {
  static const std::vector<FunctionRecord> table = [] {
    std::vector<FunctionRecord> all;
    for (auto subsystem : {store_functions, tracking_functions, registry_functions, index_functions, removal_functions,
                      token_index_functions, maintenance_functions}) {
      for (FunctionRecord& record : subsystem()) all.push_back(std::move(record));
    }
    return all;
  }();
  return table;
}

}  // namespace zr::module
