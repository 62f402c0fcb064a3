#include "module/from_python.h"

#include <string>

#include "store/json_parse.h"
#include "module/to_python.h"

namespace zr::module {

namespace {

const char* type_name(PyObject* object) { return Py_TYPE(object)->tp_name; }

bool to_utf8(PyObject* object, std::string& out) {
  if (!PyUnicode_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", type_name(object));
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);  // raises for lone surrogates
  if (data == nullptr) return false;
  out.assign(data, static_cast<size_t>(size));
  return true;
}

// The length of a sequence to be read as a list (a str is refused, as the
// list of its characters is never what a caller means); -1 with an
// exception set otherwise.
Py_ssize_t list_length(PyObject* object) {
  if (PyUnicode_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return -1;
  }
  if (!PySequence_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'Sequence'", type_name(object));
    return -1;
  }
  return PySequence_Size(object);
}

// Calls keep(item, text) for every element of a list of str, in order. `keep`
// receives a new reference to the item and must release or keep it.
template <typename Keep>
bool for_each_str_item(PyObject* object, Keep&& keep) {
  Py_ssize_t size = list_length(object);
  if (size < 0) return false;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = PySequence_GetItem(object, i);
    if (item == nullptr) return false;
    if (!PyUnicode_Check(item)) {
      PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", type_name(item));
      Py_DECREF(item);
      return false;
    }
    Py_ssize_t length = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item, &length);  // raises for lone surrogates
    if (data == nullptr) {
      Py_DECREF(item);
      return false;
    }
    keep(item, std::string_view(data, static_cast<size_t>(length)));
  }
  return true;
}

bool convert_str_list(PyObject* object, Arg& out) {
  std::vector<std::string> items;
  bool ok = for_each_str_item(object, [&](PyObject* item, std::string_view text) {
    items.emplace_back(text);
    Py_DECREF(item);
  });
  if (ok) out = std::move(items);
  return ok;
}

bool convert_str_list_view(PyObject* object, Arg& out) {
  BorrowedStrs items;
  // The text lives in the str object, which `items` keeps alive.
  bool ok = for_each_str_item(object, [&](PyObject* item, std::string_view text) { items.add(item, text); });
  if (ok) out = std::move(items);
  return ok;
}

bool convert_str_set(PyObject* object, Arg& out) {
  if (!PyAnySet_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'set'", type_name(object));
    return false;
  }
  PyObject* iterator = PyObject_GetIter(object);
  if (iterator == nullptr) return false;
  std::vector<std::string> items;
  while (PyObject* item = PyIter_Next(iterator)) {
    std::string text;
    bool ok = to_utf8(item, text);
    Py_DECREF(item);
    if (!ok) {
      Py_DECREF(iterator);
      return false;
    }
    items.push_back(std::move(text));
  }
  Py_DECREF(iterator);
  if (PyErr_Occurred()) return false;
  out = std::move(items);
  return true;
}

bool convert_u64(PyObject* object, Arg& out) {
  PyObject* index = PyNumber_Index(object);
  if (index == nullptr) return false;
  unsigned long long value = PyLong_AsUnsignedLongLong(index);  // OverflowError when out of range
  Py_DECREF(index);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = static_cast<uint64_t>(value);
  return true;
}

bool convert_bool(PyObject* object, Arg& out) {
  if (!PyBool_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bool'", type_name(object));
    return false;
  }
  out = object == Py_True;
  return true;
}

bool convert_bytes_like(PyObject* object, Arg& out) {
  if (PyBytes_Check(object) || PyByteArray_Check(object)) {
    const char* data = PyBytes_Check(object) ? PyBytes_AS_STRING(object) : PyByteArray_AS_STRING(object);
    Py_ssize_t size = PyBytes_Check(object) ? PyBytes_GET_SIZE(object) : PyByteArray_GET_SIZE(object);
    out = Bytes(data, data + size);
    return true;
  }
  Py_ssize_t size = list_length(object);
  if (size < 0) return false;
  Bytes bytes;
  bytes.reserve(static_cast<size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = PySequence_GetItem(object, i);
    if (item == nullptr) return false;
    long value = PyLong_AsLong(item);
    Py_DECREF(item);
    if (value == -1 && PyErr_Occurred()) return false;
    if (value < 0 || value > 255) {
      PyErr_SetString(PyExc_OverflowError, "byte value out of range 0..255");
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  out = std::move(bytes);
  return true;
}

// Through the interpreter's own json.dumps, so that Python objects become
// JSON exactly as the json module would write them.
bool convert_json(PyObject* object, Arg& out) {
  PyObject* json_module = PyImport_ImportModule("json");
  if (json_module == nullptr) return false;
  // One explicit argument: a tuple passed through a "O" format would be
  // spread into several arguments.
  PyObject* dumps = PyObject_GetAttrString(json_module, "dumps");
  Py_DECREF(json_module);
  if (dumps == nullptr) return false;
  PyObject* text = PyObject_CallOneArg(dumps, object);
  Py_DECREF(dumps);
  if (text == nullptr) return false;
  std::string utf8;
  bool ok = to_utf8(text, utf8);
  Py_DECREF(text);
  if (!ok) return false;
  json::Parser parser;
  base::Result<json::Value> value = parser.Parse(utf8);
  if (!value.ok()) {
    raise_status(value.status());
    return false;
  }
  out = std::move(value).value();
  return true;
}

}  // namespace

void BorrowedStrs::add(PyObject* owner, std::string_view text) {
  owners_->objects.push_back(owner);
  views_.push_back(text);
}

BorrowedStrs::Owners::~Owners() {
  for (PyObject* object : objects) Py_DECREF(object);
}

bool convert_argument(PyObject* object, ArgKind kind, Arg& out) {
  switch (kind) {
    case ArgKind::kStr: {
      std::string text;
      if (!to_utf8(object, text)) return false;
      out = std::move(text);
      return true;
    }
    case ArgKind::kStrList: return convert_str_list(object, out);
    case ArgKind::kStrListView: return convert_str_list_view(object, out);
    case ArgKind::kStrSet: return convert_str_set(object, out);
    case ArgKind::kU64: return convert_u64(object, out);
    case ArgKind::kBool: return convert_bool(object, out);
    case ArgKind::kBytesLike: return convert_bytes_like(object, out);
    case ArgKind::kJson: return convert_json(object, out);
  }
  PyErr_SetString(PyExc_SystemError, "unknown argument kind");
  return false;
}

}  // namespace zr::module
