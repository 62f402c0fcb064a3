#include "module/to_python.h"

#include <limits>

namespace zr::module {

namespace {
PyObject* g_internal_fault = nullptr;  // a type object, created once per process
}

PyObject* internal_fault_class() { return g_internal_fault; }

bool create_internal_fault_class() {
  if (g_internal_fault != nullptr) return true;
  g_internal_fault = PyErr_NewExceptionWithDoc(
      "_zr_native.InternalFault",
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
    PyObject* message = py_str(status.message());
    if (message == nullptr) return nullptr;
    PyErr_SetObject(PyExc_RuntimeError, message);
    Py_DECREF(message);
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

PyObject* py_none(const base::Status& status) {
  if (!status.ok()) return raise_status(status);
  Py_RETURN_NONE;
}

PyObject* py_u64(uint64_t value) { return PyLong_FromUnsignedLongLong(value); }

PyObject* py_u64_pair(uint64_t first, uint64_t second) {
  PyObject* a = PyLong_FromUnsignedLongLong(first);
  PyObject* b = a ? PyLong_FromUnsignedLongLong(second) : nullptr;
  PyObject* pair = b ? PyTuple_Pack(2, a, b) : nullptr;
  Py_XDECREF(a);
  Py_XDECREF(b);
  return pair;
}

PyObject* py_json(const json::Value& value) {
  switch (value.kind()) {
    case json::Kind::kNull: Py_RETURN_NONE;
    case json::Kind::kBool: return PyBool_FromLong(value.as_bool());
    case json::Kind::kUnsigned: {
      uint64_t u = value.as_unsigned();
      if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return PyFloat_FromDouble(static_cast<double>(u));
      }
      return PyLong_FromUnsignedLongLong(u);
    }
    case json::Kind::kNegative: return PyLong_FromLongLong(value.as_negative());
    case json::Kind::kFloat: return PyFloat_FromDouble(value.as_float());
    case json::Kind::kString: return py_str(value.as_string());
    case json::Kind::kArray: {
      const json::Array& items = value.as_array();
      PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
      if (list == nullptr) return nullptr;
      for (size_t i = 0; i < items.size(); ++i) {
        PyObject* item = py_json(items[i]);
        if (item == nullptr) {
          Py_DECREF(list);
          return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
      }
      return list;
    }
    case json::Kind::kObject: {
      PyObject* dict = PyDict_New();
      if (dict == nullptr) return nullptr;
      for (const json::Member& m : value.as_object().members) {
        PyObject* key = py_str(m.key);
        PyObject* item = key ? py_json(m.value) : nullptr;
        if (item == nullptr || PyDict_SetItem(dict, key, item) != 0) {
          Py_XDECREF(key);
          Py_XDECREF(item);
          Py_DECREF(dict);
          return nullptr;
        }
        Py_DECREF(key);
        Py_DECREF(item);
      }
      return dict;
    }
  }
  PyErr_SetString(g_internal_fault, "unknown JSON value kind");
  return nullptr;
}

PyObject* py_json_list(const std::vector<json::Value>& values) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* item = py_json(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* py_str_list(const std::vector<std::string>& values) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* item = py_str(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* py_counts(std::initializer_list<std::pair<const char*, uint64_t>> counts) {
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  for (const auto& [key, count] : counts) {
    PyObject* value = PyLong_FromUnsignedLongLong(count);
    if (value == nullptr || PyDict_SetItemString(dict, key, value) != 0) {
      Py_XDECREF(value);
      Py_DECREF(dict);
      return nullptr;
    }
    Py_DECREF(value);
  }
  return dict;
}

PyObject* to_python(const base::Result<std::string>& r) {
  if (!r.ok()) return raise_status(r.status());
  return py_str(*r);
}

PyObject* to_python(const base::Result<std::vector<json::Value>>& r) {
  if (!r.ok()) return raise_status(r.status());
  return py_json_list(*r);
}

}  // namespace zr::module
