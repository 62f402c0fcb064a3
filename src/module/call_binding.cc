#include "module/call_binding.h"

#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "module/to_python.h"

namespace zr::module {
namespace {

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

}  // namespace

std::string method_doc(const FunctionRecord& record) {
  return record.signature + "\n--\n\n" + (record.doc ? record.doc : "");
}

PyObject* call_function(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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

}  // namespace zr::module
