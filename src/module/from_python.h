// Converting one Python argument by its kind. On failure a Python exception
// is set and false returned.
#pragma once

#include <Python.h>

#include "module/arguments.h"

namespace zr::module {

bool convert_argument(PyObject* object, ArgKind kind, Arg& out);

}  // namespace zr::module
