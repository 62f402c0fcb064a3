// How each argument kind converts a Python object, and how a failed
// conversion names its parameter. Messages follow the interpreter's own
// wording for a wrong type.
#include <string>

#include "module/argument_kinds.h"
#include "module/parameters.h"
#include "module/to_python.h"
#include "json/parse.h"

namespace zr::module {

namespace {

const char* type_name(PyObject* object) { return Py_TYPE(object)->tp_name; }

// The UTF-8 text of a str, valid while the str lives; nullptr with an
// exception set when `object` is not a str or holds a lone surrogate.
const char* utf8_of(PyObject* object, Py_ssize_t& size) {
  if (!PyUnicode_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", type_name(object));
    return nullptr;
  }
  return PyUnicode_AsUTF8AndSize(object, &size);  // raises for lone surrogates
}

bool to_utf8(PyObject* object, std::string& out) {
  Py_ssize_t size = 0;
  const char* data = utf8_of(object, size);
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

// Calls keep(item, text) for every element of a list of str, in order; `item`
// owns a reference to the element, which `text` lives in.
template <typename Keep>
bool for_each_str_item(PyObject* object, Keep&& keep) {
  Py_ssize_t size = list_length(object);
  if (size < 0) return false;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item(PySequence_GetItem(object, i));
    if (!item) return false;
    Py_ssize_t length = 0;
    const char* data = utf8_of(item.get(), length);
    if (data == nullptr) return false;
    keep(std::move(item), std::string_view(data, static_cast<size_t>(length)));
  }
  return true;
}

}  // namespace

void name_parameter_in_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type(type), owned_value(value), owned_traceback(traceback);
  PyRef text(value ? PyObject_Str(value) : nullptr);
  if (text) {
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
  } else {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': conversion failed", name);
  }
}

bool Str::convert(PyObject* object, Value& out) { return to_utf8(object, out); }

bool StrList::convert(PyObject* object, Value& out) {
  return for_each_str_item(object, [&](PyRef, std::string_view text) { out.emplace_back(text); });
}

bool StrListView::convert(PyObject* object, Value& out) {
  return for_each_str_item(object, [&](PyRef item, std::string_view text) { out.add(std::move(item), text); });
}

bool StrSet::convert(PyObject* object, Value& out) {
  if (!PyAnySet_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'set'", type_name(object));
    return false;
  }
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) return false;
  while (PyRef item{PyIter_Next(iterator.get())}) {
    if (!to_utf8(item.get(), out.emplace_back())) return false;
  }
  return !PyErr_Occurred();
}

bool U64::convert(PyObject* object, Value& out) {
  PyRef index(PyNumber_Index(object));
  if (!index) return false;
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());  // OverflowError when out of range
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = static_cast<uint64_t>(value);
  return true;
}

bool Bool::convert(PyObject* object, Value& out) {
  if (!PyBool_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bool'", type_name(object));
    return false;
  }
  out = object == Py_True;
  return true;
}

bool BytesLike::convert(PyObject* object, Value& out) {
  if (PyBytes_Check(object) || PyByteArray_Check(object)) {
    const char* data = PyBytes_Check(object) ? PyBytes_AS_STRING(object) : PyByteArray_AS_STRING(object);
    Py_ssize_t size = PyBytes_Check(object) ? PyBytes_GET_SIZE(object) : PyByteArray_GET_SIZE(object);
    out.assign(data, data + size);
    return true;
  }
  Py_ssize_t size = list_length(object);
  if (size < 0) return false;
  out.reserve(static_cast<size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item(PySequence_GetItem(object, i));
    if (!item) return false;
    long value = PyLong_AsLong(item.get());
    if (value == -1 && PyErr_Occurred()) return false;
    if (value < 0 || value > 255) {
      PyErr_SetString(PyExc_OverflowError, "byte value out of range 0..255");
      return false;
    }
    out.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

namespace {

// The UTF-8 text json.dumps gives for `object`, through the interpreter's
// own json module, so that Python objects become JSON exactly as it would
// write them. What json.dumps raises passes through.
bool dumps_utf8(PyObject* object, std::string& out) {
  PyRef json_module(PyImport_ImportModule("json"));
  if (!json_module) return false;
  PyRef dumps(PyObject_GetAttrString(json_module.get(), "dumps"));
  if (!dumps) return false;
  // One explicit argument: a tuple passed through a "O" format would be
  // spread into several arguments.
  PyRef text(PyObject_CallOneArg(dumps.get(), object));
  if (!text) return false;
  return to_utf8(text.get(), out);
}

// Calls hold the interpreter's lock, so one parser per thread serves every
// conversion without allocating anew.
json::Parser& conversion_parser() {
  static thread_local json::Parser parser;
  return parser;
}

}  // namespace

bool Json::convert(PyObject* object, Value& out) {
  std::string utf8;
  if (!dumps_utf8(object, utf8)) return false;
  base::Result<json::Value> value = conversion_parser().Parse(utf8);
  if (!value.ok()) {
    raise_status(value.status());
    return false;
  }
  out = std::move(value).value();
  return true;
}

bool JsonCompact::convert(PyObject* object, Value& out) {
  std::string utf8;
  if (!dumps_utf8(object, utf8)) return false;
  if (!conversion_parser().Canonicalize(utf8, 0, out)) {
    // The text Json would have refused, with its message.
    raise_status(base::Status::Error(json::describe_parse_failure(utf8)));
    return false;
  }
  return true;
}

}  // namespace zr::module
