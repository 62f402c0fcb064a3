#include "module/document_records.h"

#include "module/to_python.h"

namespace zr::module {

PyObject* py_document_records(const std::vector<tracking::DocumentRecord>& records) {
  return py_list(records, [](const tracking::DocumentRecord& record) {
    return py_json(tracking::document_record_value(record));
  });
}

}  // namespace zr::module
