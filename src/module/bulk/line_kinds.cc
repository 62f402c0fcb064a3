#include "module/bulk/line_kinds.h"

#include "module/argument_kinds.h"
#include "module/py_ref.h"

namespace zr::module {

namespace {

// Calls add(item) for every item of `object`, which must not be a single
// str or bytes (a list of its characters is never what a caller means).
template <typename Add>
bool for_each_item(PyObject* object, const char* what, Add&& add) {
  if (PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a sequence of %s", Py_TYPE(object)->tp_name,
                 what);
    return false;
  }
  PyRef items(PySequence_Fast(object, ""));
  if (!items) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a sequence of %s", Py_TYPE(object)->tp_name,
                 what);
    return false;
  }
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
  PyObject** item = PySequence_Fast_ITEMS(items.get());
  for (Py_ssize_t i = 0; i < size; ++i) {
    if (!add(item[i])) return false;
  }
  return true;
}

}  // namespace

bool LineList::convert(PyObject* object, Value& out) {
  return for_each_item(object, "lines", [&](PyObject* line) {
    if (PyBytes_Check(line)) {
      out.add(std::string_view(PyBytes_AS_STRING(line), static_cast<size_t>(PyBytes_GET_SIZE(line))));
      return true;
    }
    if (PyByteArray_Check(line)) {
      out.add(std::string_view(PyByteArray_AS_STRING(line), static_cast<size_t>(PyByteArray_GET_SIZE(line))));
      return true;
    }
    if (PyUnicode_Check(line)) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(line, &size);
      if (data == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
        PyErr_Clear();
        out.add_unreadable();
        return true;
      }
      out.add(std::string_view(data, static_cast<size_t>(size)));
      return true;
    }
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bytes' or 'str'", Py_TYPE(line)->tp_name);
    return false;
  });
}

bool TokenCounts::convert(PyObject* object, Value& out) {
  return for_each_item(object, "token counts", [&](PyObject* count) {
    if (count == Py_None) {
      out.emplace_back();
      return true;
    }
    return U64::convert(count, out.emplace_back().emplace());
  });
}

}  // namespace zr::module
