// The extension module _zr_native: one method per function record, each a
// thin trampoline into the generic binder.
#include <Python.h>

#include <array>
#include <string>
#include <utility>

#include "module/binder.h"
#include "module/function_table.h"
#include "module/to_python.h"

namespace zr::module {
namespace {

template <size_t I>
PyObject* trampoline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return bind_and_call(function_table()[I], args, PyVectorcall_NARGS(nargsf), kwnames);
}

// The interpreter reads a function's text signature from the head of its
// docstring: "<signature>\n--\n\n", followed by the docstring proper.
std::array<std::string, kMaxFunctions> g_docs;
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
    g_docs[i] = table[i].signature + "\n--\n\n" + (table[i].doc ? table[i].doc : "");
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
  if (!create_internal_fault_class()) return nullptr;
  return PyModule_Create(&g_module);
}
