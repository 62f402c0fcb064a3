// The argument kinds of bulk tracking: a sequence of raw lines, and a
// sequence of token counts that may leave a line without one.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "module/py_ref.h"
#include "tracking/track_batch.h"

namespace zr::module {

// The lines of one call, most read in place: `holder` keeps every line
// object alive while the interpreter lock is given up, and holds them in a
// tuple of its own, so that a caller changing its list meanwhile changes
// nothing that is read.
struct BorrowedLines {
  tracking::LineBatch batch;
  PyRef holder;
};

// Any sequence (or iterable) of bytes, bytearray or str, each one line
// without its "\n". bytes are read in place, str through its UTF-8 form
// (which the str keeps), bytearray (which may change) copied. A str that has
// no UTF-8 form (a lone surrogate) is an unreadable line rather than an
// error, as undecodable bytes are.
struct LineList {
  using Value = BorrowedLines;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// Any sequence (or iterable) whose items are None (no count) or ints in
// 0 .. 2^64-1, converted as track's token_count.
struct TokenCounts {
  using Value = std::vector<std::optional<uint64_t>>;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

}  // namespace zr::module
