// The extension module _zr_native: one method per function record, each a
// thin trampoline into the generic binder.
#include <Python.h>

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
std::array<std::string, kFunctionCount> g_docs;
PyMethodDef g_methods[kFunctionCount + 1];

template <size_t... I>
void fill_methods(std::index_sequence<I...>) {
  ((g_methods[I] = PyMethodDef{function_table()[I].name,
                               reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&trampoline<I>)),
                               METH_FASTCALL | METH_KEYWORDS, nullptr}),
   ...);
}

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "_zr_native", "", -1, g_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace zr::module

PyMODINIT_FUNC PyInit__zr_native() {
  using namespace zr::module;
  if (g_methods[0].ml_name == nullptr) {
    fill_methods(std::make_index_sequence<kFunctionCount>());
    for (size_t i = 0; i < kFunctionCount; ++i) {
      const FunctionSpec& spec = function_table()[i];
      g_docs[i] = std::string(spec.signature) + "\n--\n\n" + (spec.doc ? spec.doc : "");
      g_methods[i].ml_doc = g_docs[i].c_str();
    }
  }
  if (!create_internal_fault_class()) return nullptr;
  return PyModule_Create(&g_module);
}
