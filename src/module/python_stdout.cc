#include "module/python_stdout.h"

#include <Python.h>

namespace zr::module {

bool flush_python_stdout() {
  PyObject* out = PySys_GetObject("stdout");  // borrowed
  if (out == nullptr || out == Py_None) return true;
  Py_INCREF(out);  // flush() may rebind sys.stdout and drop the last reference
  PyObject* result = PyObject_CallMethod(out, "flush", nullptr);
  Py_DECREF(out);
  if (result != nullptr) {
    Py_DECREF(result);
    return true;
  }
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
  PyErr_Clear();
  return true;
}

}  // namespace zr::module
