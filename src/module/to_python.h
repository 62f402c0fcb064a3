// Turning operation results and errors into Python objects and exceptions.
// Every function returns a new reference, or nullptr with an exception set.
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"
#include "store/json_value.h"

namespace zr::module {

// The exception class for internal faults; derives directly from BaseException.
PyObject* internal_fault_class();
bool create_internal_fault_class();

// Raises the Python exception for a failed status and returns nullptr.
PyObject* raise_status(const base::Status& status);

PyObject* py_str(std::string_view text);
PyObject* py_bytes(std::string_view data);
PyObject* py_none(const base::Status& status);
PyObject* py_u64(uint64_t value);
// A tuple of two ints.
PyObject* py_u64_pair(uint64_t first, uint64_t second);
// JSON null/bool/number/string/array/object to Python, object keys in byte order.
PyObject* py_json(const json::Value& value);
PyObject* py_json_list(const std::vector<json::Value>& values);
PyObject* py_str_list(const std::vector<std::string>& values);
// A dict of counts, keys inserted in the order given.
PyObject* py_counts(std::initializer_list<std::pair<const char*, uint64_t>> counts);

// Overloads that raise on a failed result.
PyObject* to_python(const base::Result<std::string>& r);
PyObject* to_python(const base::Result<std::vector<json::Value>>& r);

}  // namespace zr::module
