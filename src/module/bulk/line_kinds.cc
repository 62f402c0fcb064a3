#include "module/bulk/line_kinds.h"

#include <span>

#include "module/argument_kinds.h"
#include "module/bulk/sequence_items.h"
#include "module/py_ref.h"

namespace zr::module {

namespace {

bool add_line(PyObject* line, tracking::LineBatch& out) {
  if (PyBytes_Check(line)) {
    out.add_borrowed(std::string_view(PyBytes_AS_STRING(line), static_cast<size_t>(PyBytes_GET_SIZE(line))));
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
    out.add_borrowed(std::string_view(data, static_cast<size_t>(size)));
    return true;
  }
  PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bytes' or 'str'", Py_TYPE(line)->tp_name);
  return false;
}

}  // namespace

bool LineList::convert(PyObject* object, Value& out) {
  PyRef items = items_of(object, "lines");
  if (!items) return false;
  out.holder = held_items(std::move(items));
  if (!out.holder) return false;
  const std::span<PyObject*> lines = span_of(out.holder);
  out.batch.reserve(lines.size());
  for (PyObject* line : lines) {
    if (!add_line(line, out.batch)) return false;
  }
  return true;
}

bool TokenCounts::convert(PyObject* object, Value& out) {
  PyRef items = items_of(object, "token counts");
  if (!items) return false;
  const std::span<PyObject*> counts = span_of(items);
  out.reserve(counts.size());
  for (PyObject* count : counts) {
    if (count == Py_None) {
      out.emplace_back();
    } else if (!U64::convert(count, out.emplace_back().emplace())) {
      return false;
    }
  }
  return true;
}

}  // namespace zr::module
