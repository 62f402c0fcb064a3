#include "module/bulk/text_kinds.h"

namespace zr::module {

namespace {

bool add_text(PyObject* object, BorrowedTexts& out) {
  if (!PyBytes_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bytes'", Py_TYPE(object)->tp_name);
    return false;
  }
  out.texts.emplace_back(PyBytes_AS_STRING(object), static_cast<size_t>(PyBytes_GET_SIZE(object)));
  return true;
}

}  // namespace

bool TextList::convert(PyObject* object, Value& out) {
  if (PyBytes_Check(object) || PyUnicode_Check(object) || PyByteArray_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a sequence of bytes", Py_TYPE(object)->tp_name);
    return false;
  }
  PyRef items(PySequence_Fast(object, ""));
  if (!items) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a sequence of bytes", Py_TYPE(object)->tp_name);
    return false;
  }
  out.holder = PyList_Check(items.get()) ? PyRef(PyList_AsTuple(items.get())) : std::move(items);
  if (!out.holder) return false;
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(out.holder.get());
  PyObject** texts = PySequence_Fast_ITEMS(out.holder.get());
  out.texts.reserve(static_cast<size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    if (!add_text(texts[i], out)) return false;
  }
  return true;
}

bool Text::convert(PyObject* object, Value& out) {
  out.holder = PyRef::borrow(object);
  return add_text(object, out);
}

}  // namespace zr::module
