#include "module/document_records.h"

#include "module/to_python.h"

namespace zr::module {

PyObject* py_document_records(const base::Result<std::vector<tracking::DocumentRecord>>& records) {
  if (!records.ok()) return raise_status(records.status());
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(records->size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < records->size(); ++i) {
    PyObject* item = py_json(tracking::document_record_value((*records)[i]));
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

}  // namespace zr::module
