#include "module/bulk/sequence_items.h"

namespace zr::module {

PyRef items_of(PyObject* object, const char* what) {
  PyRef items;
  if (!PyUnicode_Check(object) && !PyBytes_Check(object) && !PyByteArray_Check(object)) {
    items.reset(PySequence_Fast(object, ""));
  }
  if (!items) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a sequence of %s", Py_TYPE(object)->tp_name,
                 what);
  }
  return items;
}

PyRef held_items(PyRef items) {
  return PyList_Check(items.get()) ? PyRef(PyList_AsTuple(items.get())) : std::move(items);
}

std::span<PyObject*> span_of(const PyRef& items) {
  return {PySequence_Fast_ITEMS(items.get()), static_cast<size_t>(PySequence_Fast_GET_SIZE(items.get()))};
}

}  // namespace zr::module
