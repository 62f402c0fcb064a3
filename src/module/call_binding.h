// The one generic binder of both extension modules: it matches a call's
// positional and keyword arguments to a function record's parameters,
// converts them in parameter order and runs the operation, never letting a
// C++ exception reach the interpreter. Call errors are worded as the
// interpreter words them for functions of its own.
#pragma once

#include <Python.h>

#include <string>

#include "module/function_record.h"

namespace zr::module {

// Runs the record's operation on a call's arguments (vectorcall
// convention); a new reference, or nullptr with a Python exception set.
PyObject* call_function(const FunctionRecord& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The record's docstring as a method table holds it: the interpreter reads a
// function's text signature from its head, "<signature>\n--\n\n", followed
// by the docstring proper.
std::string method_doc(const FunctionRecord& record);

}  // namespace zr::module
