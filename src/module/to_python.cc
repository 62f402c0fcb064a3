#include "module/to_python.h"

#include <limits>

namespace zr::module {

namespace {
PyObject* g_internal_fault = nullptr;  // a type object, created once per process and module
}

PyObject* internal_fault_class() { return g_internal_fault; }

bool create_internal_fault_class(const char* qualified_name) {
  if (g_internal_fault != nullptr) return true;
  g_internal_fault = PyErr_NewExceptionWithDoc(
      qualified_name,
      "A broken invariant inside the native core. Derives from BaseException so that "
      "`except Exception` does not swallow it.",
      PyExc_BaseException, nullptr);
  return g_internal_fault != nullptr;
}

PyObject* raise_status(const base::Status& status) {
  if (status.is_internal_fault()) {
    const std::string& text = status.message();
    PyErr_SetString(g_internal_fault, text.empty() ? "internal fault" : text.c_str());
  } else {
    PyRef message(py_str(status.message()));
    if (message) PyErr_SetObject(PyExc_RuntimeError, message.get());
  }
  return nullptr;
}

PyObject* py_str(std::string_view text) {
  // "replace" keeps a malformed byte sequence (a file name, say) from
  // turning a result into an exception.
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* py_bytes(std::string_view data) {
  return PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size()));
}

PyObject* py_u64(uint64_t value) { return PyLong_FromUnsignedLongLong(value); }

PyObject* py_u64_pair(uint64_t first, uint64_t second) {
  PyRef a(PyLong_FromUnsignedLongLong(first));
  PyRef b(a ? PyLong_FromUnsignedLongLong(second) : nullptr);
  return b ? PyTuple_Pack(2, a.get(), b.get()) : nullptr;
}

PyObject* py_json_unsigned(uint64_t value) {
  if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    return PyFloat_FromDouble(static_cast<double>(value));
  }
  return PyLong_FromUnsignedLongLong(value);
}

PyObject* py_json(const json::Value& value) {
  switch (value.kind()) {
    case json::Kind::kNull: Py_RETURN_NONE;
    case json::Kind::kBool: return PyBool_FromLong(value.as_bool());
    case json::Kind::kUnsigned: return py_json_unsigned(value.as_unsigned());
    case json::Kind::kNegative: return PyLong_FromLongLong(value.as_negative());
    case json::Kind::kFloat: return PyFloat_FromDouble(value.as_float());
    case json::Kind::kString: return py_str(value.as_string());
    case json::Kind::kArray: return py_json_list(value.as_array());
    case json::Kind::kObject: {
      PyRef dict(PyDict_New());
      if (!dict) return nullptr;
      for (const json::Member& m : value.as_object().members) {
        PyRef key(py_str(m.key));
        PyRef item(key ? py_json(m.value) : nullptr);
        if (!item || PyDict_SetItem(dict.get(), key.get(), item.get()) != 0) return nullptr;
      }
      return dict.release();
    }
  }
  PyErr_SetString(g_internal_fault, "unknown JSON value kind");
  return nullptr;
}

PyObject* py_json_list(const std::vector<json::Value>& values) {
  return py_list(values, [](const json::Value& value) { return py_json(value); });
}

PyObject* py_str_list(const std::vector<std::string>& values) {
  return py_list(values, [](const std::string& text) { return py_str(text); });
}

PyObject* py_counts(std::initializer_list<std::pair<const char*, uint64_t>> counts) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, count] : counts) {
    PyRef value(PyLong_FromUnsignedLongLong(count));
    if (!value || PyDict_SetItemString(dict.get(), key, value.get()) != 0) return nullptr;
  }
  return dict.release();
}

PyObject* py_document_records(const std::vector<tracking::DocumentRecord>& records) {
  return py_list(records, [](const tracking::DocumentRecord& record) {
    return py_json(tracking::document_record_value(record));
  });
}

}  // namespace zr::module
