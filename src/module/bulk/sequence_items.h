// Reading the items of a sequence argument, for the kinds of _zr_bulk whose
// items are read in place while the interpreter's lock is given up.
#pragma once

#include <Python.h>

#include <span>

#include "module/py_ref.h"

namespace zr::module {

// The items of `object` as a list or tuple (an iterable is read into a new
// list), or nullptr with a TypeError naming `what` the items should be. A
// single str, bytes or bytearray is refused: a list of its characters is
// never what a caller means.
PyRef items_of(PyObject* object, const char* what);

// `items` held as a tuple of the call's own: a list is copied, so that a
// caller changing its list meanwhile changes nothing that is read. nullptr
// with an exception set when the copy fails.
PyRef held_items(PyRef items);

std::span<PyObject*> span_of(const PyRef& items);

}  // namespace zr::module
