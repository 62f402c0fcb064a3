// The extension module _zr_native: one method per function record, each a
// thin trampoline into the one generic binder (module/call_binding.h). Each
// record lists its typed parameters and its operation
// (module/functions_<rooms>.cc); the conversion of each kind lives in
// from_python.cc.
#include <Python.h>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "module/call_binding.h"
#include "module/function_record.h"
#include "module/to_python.h"

namespace zr::module {
namespace {

// Upper bound on the number of functions (the module's trampolines are
// instantiated this many times).
constexpr size_t kMaxFunctions = 48;

// Every function of the module, in registration order.
const std::vector<FunctionRecord>& function_table() {
  static const std::vector<FunctionRecord> table = [] {
    std::vector<FunctionRecord> all;
    for (auto room : {store_functions, tracking_functions, registry_functions, index_functions, revocation_functions,
                      purge_functions, token_index_functions, maintenance_functions}) {
      for (FunctionRecord& record : room()) all.push_back(std::move(record));
    }
    return all;
  }();
  return table;
}

template <size_t I>
PyObject* trampoline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_function(function_table()[I], args, PyVectorcall_NARGS(nargsf), kwnames);
}

std::array<std::string, kMaxFunctions> g_docs;  // method_doc of each function
PyMethodDef g_methods[kMaxFunctions + 1];

using Trampoline = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <size_t... I>
constexpr std::array<Trampoline, sizeof...(I)> make_trampolines(std::index_sequence<I...>) {
  return {&trampoline<I>...};
}

bool fill_methods() {
  static constexpr auto kTrampolines = make_trampolines(std::make_index_sequence<kMaxFunctions>());
  const auto& table = function_table();
  if (table.size() > kMaxFunctions) {
    PyErr_SetString(PyExc_SystemError, "more functions than trampolines");
    return false;
  }
  for (size_t i = 0; i < table.size(); ++i) {
    g_docs[i] = method_doc(table[i]);
    g_methods[i] = PyMethodDef{table[i].name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kTrampolines[i])),
                               METH_FASTCALL | METH_KEYWORDS, g_docs[i].c_str()};
  }
  return true;
}

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "_zr_native", "", -1, g_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace zr::module

PyMODINIT_FUNC PyInit__zr_native() {
  using namespace zr::module;
  if (g_methods[0].ml_name == nullptr && !fill_methods()) return nullptr;
  if (!create_internal_fault_class("_zr_native.InternalFault")) return nullptr;
  return PyModule_Create(&g_module);
}
