// The one generic binder: matches a call's positional and keyword arguments
// to a function's parameters, converts them in parameter order and runs the
// operation, never letting a C++ exception reach the interpreter.
#pragma once

#include <Python.h>

#include "module/function_table.h"

namespace zr::module {

PyObject* bind_and_call(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace zr::module
