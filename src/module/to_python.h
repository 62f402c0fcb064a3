// Turning operation results and errors into Python objects and exceptions.
// Every function returns a new reference, or nullptr with an exception set.
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"
#include "module/py_ref.h"
#include "json/value.h"
#include "tracking/document_record.h"

namespace zr::module {

// The exception class for internal faults; derives directly from BaseException.
// Each extension module creates its own, named "<module>.InternalFault".
PyObject* internal_fault_class();
bool create_internal_fault_class(const char* qualified_name);

// Raises the Python exception for a failed status and returns nullptr.
PyObject* raise_status(const base::Status& status);

PyObject* py_str(std::string_view text);
PyObject* py_bytes(std::string_view data);
PyObject* py_u64(uint64_t value);
// A tuple of two ints.
PyObject* py_u64_pair(uint64_t first, uint64_t second);
// A JSON unsigned integer: an int, or a float above 2^63 - 1.
PyObject* py_json_unsigned(uint64_t value);
// JSON null/bool/number/string/array/object to Python, object keys in byte order.
PyObject* py_json(const json::Value& value);
PyObject* py_json_list(const std::vector<json::Value>& values);
PyObject* py_str_list(const std::vector<std::string>& values);
// A new list of one element per item, each made by `convert` (a new
// reference, or nullptr with an exception set).
template <typename Items, typename Convert>
PyObject* py_list(const Items& items, Convert&& convert) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* item = convert(items[i]);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}
// A dict of counts, keys inserted in the order given.
PyObject* py_counts(std::initializer_list<std::pair<const char*, uint64_t>> counts);
// Document records as a list of dicts with the keys file, line_hash, sources
// (the JSON-to-Python rule's ascending key order).
PyObject* py_document_records(const std::vector<tracking::DocumentRecord>& records);

// The conversion of a result whose type says what it is in Python: text,
// a count, stored JSON values, a list of text. Results of any other type
// (counts structs, records, bytes held in a string) name their conversion
// in their function's record, so none is picked by an implicit conversion.
struct PlainToPython {
  PyObject* operator()(const std::string& text) const { return py_str(text); }
  PyObject* operator()(uint64_t count) const { return py_u64(count); }
  PyObject* operator()(const std::vector<json::Value>& values) const { return py_json_list(values); }
  PyObject* operator()(const std::vector<std::string>& texts) const { return py_str_list(texts); }
  template <typename T>
  PyObject* operator()(const T&) const = delete;
};

// An operation's outcome in Python: None for a successful Status, the
// converted value for a successful Result or a plain value, and the
// exception of the error otherwise.
template <typename ToPython>
PyObject* result_to_python(const base::Status& status, const ToPython&) {
  if (!status.ok()) return raise_status(status);
  Py_RETURN_NONE;
}

template <typename T, typename ToPython>
PyObject* result_to_python(const base::Result<T>& result, const ToPython& to_python) {
  if (!result.ok()) return raise_status(result.status());
  return to_python(*result);
}

template <typename T, typename ToPython>
PyObject* result_to_python(const T& value, const ToPython& to_python) {
  return to_python(value);
}

// The outcome of an operation that calls into the interpreter before it runs:
// empty when that call raised, and the exception is already set.
template <typename Outcome>
struct UnlessRaised {
  std::optional<Outcome> outcome;
};

template <typename Outcome, typename ToPython>
PyObject* result_to_python(const UnlessRaised<Outcome>& r, const ToPython& to_python) {
  if (!r.outcome) return nullptr;
  return result_to_python(*r.outcome, to_python);
}

}  // namespace zr::module
