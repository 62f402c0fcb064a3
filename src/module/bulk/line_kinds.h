// The argument kinds of bulk tracking: a sequence of raw lines, and a
// sequence of token counts that may leave a line without one.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "tracking/track_batch.h"

namespace zr::module {

// Any sequence (or iterable) of bytes, bytearray or str, each one line
// without its "\n", copied as UTF-8. A str that has no UTF-8 form (a lone
// surrogate) is an unreadable line rather than an error, as undecodable
// bytes are.
struct LineList {
  using Value = tracking::LineBatch;
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
