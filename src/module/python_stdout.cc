#include "module/python_stdout.h"

#include <Python.h>

#include "module/py_ref.h"

namespace zr::module {

bool flush_python_stdout() {
  PyObject* out = PySys_GetObject("stdout");  // borrowed
  if (out == nullptr || out == Py_None) return true;
  PyRef owned = PyRef::borrow(out);  // flush() may rebind sys.stdout and drop the last reference
  if (PyRef(PyObject_CallMethod(out, "flush", nullptr))) return true;
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
  PyErr_Clear();
  return true;
}

}  // namespace zr::module
