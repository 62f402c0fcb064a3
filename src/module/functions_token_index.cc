// Functions of the token index.
#include "module/function_table.h"
#include "module/to_python.h"
#include "token_index/pid_file.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* token_index_write_pid_fn(const Args& a) {
  return py_none(token_index::token_index_write_pid(a.str(0), a.str(1), a.u64(2), a.strs(3)));
}

}  // namespace

std::vector<FunctionSpec> token_index_functions() {
  return {
      {"token_index_write_pid", "token_index_write_pid(zr_dir, tokenizer, token_count, sources)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr), Required("token_count", K::kU64),
        Required("sources", K::kStrList)},
       token_index_write_pid_fn},
  };
}

}  // namespace zr::module
