#include "module/bulk/text_kinds.h"

#include "module/bulk/sequence_items.h"

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
  PyRef items = items_of(object, "bytes");
  if (!items) return false;
  out.holder = held_items(std::move(items));
  if (!out.holder) return false;
  const std::span<PyObject*> texts = span_of(out.holder);
  out.texts.reserve(texts.size());
  for (PyObject* text : texts) {
    if (!add_text(text, out)) return false;
  }
  return true;
}

bool Text::convert(PyObject* object, Value& out) {
  out.holder = PyRef::borrow(object);
  return add_text(object, out);
}

}  // namespace zr::module
