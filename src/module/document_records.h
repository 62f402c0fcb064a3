// Document records for Python: a list of dicts with the keys file,
// line_hash, sources (the JSON-to-Python rule's ascending key order).
#pragma once

#include <Python.h>

#include <vector>

#include "tracking/document_record.h"

namespace zr::module {

PyObject* py_document_records(const std::vector<tracking::DocumentRecord>& records);

}  // namespace zr::module
