// The extension module _zr_native: one method per function record, each a
// thin trampoline into the one generic binder, which matches a call's
// positional and keyword arguments to the record's parameters, converts them
// in parameter order and runs the operation, never letting a C++ exception
// reach the interpreter. Each record lists its typed parameters and its
// operation (module/functions_<rooms>.cc); the conversion of each kind lives
// in from_python.cc.
#include <Python.h>

#include <array>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

std::string quoted_list(const std::vector<const char*>& names) {
  // Matches the interpreter: 'a', 'a' and 'b', 'a', 'b', and 'c'.
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() > 2 ? ", " : " ";
    if (i > 0 && i + 1 == names.size()) out += "and ";
    out += "'";
    out += names[i];
    out += "'";
  }
  return out;
}

void too_many_positional(const FunctionRecord& record, Py_ssize_t given) {
  size_t max = record.params.size();
  size_t min = 0;
  for (const ParamInfo& p : record.params) min += p.required ? 1 : 0;
  std::string takes = min == max ? std::to_string(max) : "from " + std::to_string(min) + " to " + std::to_string(max);
  PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zd %s given", record.name, takes.c_str(),
               max == 1 && min == max ? "" : "s", given, given == 1 ? "was" : "were");
}

// Fills `bound` (borrowed references, nullptr when not passed) with the
// record's parameters in order. Returns false with a TypeError set on a call
// error.
bool bind(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** bound) {
  const size_t count = record.params.size();
  if (static_cast<size_t>(nargs) > count) {
    too_many_positional(record, nargs);
    return false;
  }
  for (size_t p = 0; p < count; ++p) bound[p] = p < static_cast<size_t>(nargs) ? args[p] : nullptr;
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const char* name = PyUnicode_AsUTF8(key);
    if (name == nullptr) return false;
    size_t index = 0;
    while (index < count && std::string_view(record.params[index].name) != name) ++index;
    if (index == count) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", record.name, name);
      return false;
    }
    if (bound[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", record.name, name);
      return false;
    }
    bound[index] = args[nargs + k];
  }
  std::vector<const char*> missing;
  for (size_t p = 0; p < count; ++p) {
    if (bound[p] == nullptr && record.params[p].required) missing.push_back(record.params[p].name);
  }
  if (!missing.empty()) {
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", record.name, missing.size(),
                 missing.size() == 1 ? "" : "s", quoted_list(missing).c_str());
    return false;
  }
  return true;
}

// Runs the record's operation on a call's arguments; a new reference, or
// nullptr with a Python exception set.
PyObject* bind_and_call(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    PyObject* bound[kMaxParams];
    if (!bind(record, args, nargs, kwnames, bound)) return nullptr;
    return record.invoker->call(bound);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    const char* what = e.what();
    PyErr_SetString(internal_fault_class(), what && *what ? what : "internal fault");
  } catch (...) {
    PyErr_SetString(internal_fault_class(), "internal fault");
  }
  return nullptr;
}

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
