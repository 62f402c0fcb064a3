#include "module/binder.h"

#include <exception>
#include <new>
#include <string>

#include "module/from_python.h"
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

PyObject* too_many_positional(const FunctionRecord& record, Py_ssize_t given) {
  size_t max = record.params.size();
  size_t min = 0;
  for (const Param& p : record.params) min += p.required ? 1 : 0;
  std::string takes = min == max ? std::to_string(max) : "from " + std::to_string(min) + " to " + std::to_string(max);
  PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zd %s given", record.name, takes.c_str(),
               max == 1 && min == max ? "" : "s", given, given == 1 ? "was" : "were");
  return nullptr;
}

// Fills `bound` (borrowed references, nullptr when not passed). Returns false
// with a TypeError set on a call error.
bool bind(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          std::vector<PyObject*>& bound) {
  const size_t count = record.params.size();
  bound.assign(count, nullptr);
  if (static_cast<size_t>(nargs) > count) {
    too_many_positional(record, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[static_cast<size_t>(i)] = args[i];
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const char* name = PyUnicode_AsUTF8(key);
    if (name == nullptr) return false;
    size_t index = count;
    for (size_t p = 0; p < count; ++p) {
      if (std::string_view(record.params[p].name) == name) index = p;
    }
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

// A TypeError of a conversion names the parameter; other failures pass
// through unchanged.
void prefix_type_error(const Param& param) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* text = value ? PyObject_Str(value) : nullptr;
  if (text != nullptr) {
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", param.name, text);
    Py_DECREF(text);
  } else {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': conversion failed", param.name);
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
}

bool convert_one(const Param& param, PyObject* object, Arg& out) {
  if (object == nullptr) {
    out = param.default_value;
    return true;
  }
  if (param.nullable && object == Py_None) {
    out = std::monostate{};
    return true;
  }
  if (convert_argument(object, param.kind, out)) return true;
  // json.dumps failures pass through unchanged, whatever their type.
  if (param.kind != ArgKind::kJson) prefix_type_error(param);
  return false;
}

PyObject* call(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<PyObject*> bound;
  if (!bind(record, args, nargs, kwnames, bound)) return nullptr;
  std::vector<Arg> values(record.params.size());
  for (size_t p = 0; p < record.params.size(); ++p) {
    if (record.params[p].convert_last) continue;
    if (!convert_one(record.params[p], bound[p], values[p])) return nullptr;
  }
  for (size_t p = 0; p < record.params.size(); ++p) {
    if (!record.params[p].convert_last) continue;
    if (!convert_one(record.params[p], bound[p], values[p])) return nullptr;
  }
  return record.invoke(Args(std::move(values)));
}

}  // namespace

PyObject* bind_and_call(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    return call(record, args, nargs, kwnames);
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
