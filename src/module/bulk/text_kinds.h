// The argument kinds of the range merge: JSON Lines texts passed as bytes,
// read in place.
#pragma once

#include <Python.h>

#include <string_view>
#include <vector>

#include "module/py_ref.h"

namespace zr::module {

// Texts whose bytes stay in the bytes objects `holder` keeps alive (a tuple
// of its own, so that a caller changing its list meanwhile changes nothing
// that is read).
struct BorrowedTexts {
  std::vector<std::string_view> texts;
  PyRef holder;
};

// Any sequence (or iterable) of bytes.
struct TextList {
  using Value = BorrowedTexts;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// One bytes object.
struct Text {
  using Value = BorrowedTexts;  // one text
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

}  // namespace zr::module
