// The kinds of Python argument the functions take. Each kind names the C++
// value a call receives (`Value`) and converts one Python object into it
// (`convert`: false with a Python exception set on failure). `text` spells a
// default value as a text signature shows it, for the kinds that have
// defaults.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module/py_ref.h"
#include "json/value.h"

namespace zr::module {

using Bytes = std::vector<uint8_t>;

// Text borrowed from Python str objects, which are kept alive (one reference
// each) for as long as the views are. Large line lists are passed without
// copying every line.
class BorrowedStrs {
 public:
  BorrowedStrs() = default;
  BorrowedStrs(BorrowedStrs&&) = default;
  BorrowedStrs& operator=(BorrowedStrs&&) = default;

  void add(PyRef owner, std::string_view text) {
    owners_.push_back(std::move(owner));
    views_.push_back(text);
  }
  const std::vector<std::string_view>& views() const { return views_; }

 private:
  std::vector<PyRef> owners_;
  std::vector<std::string_view> views_;
};

// A str (or a subclass), taken as UTF-8.
struct Str {
  using Value = std::string;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
  static std::string text(const Value& value) { return "\"" + value + "\""; }
};

// Any sequence of str except a str itself; order and duplicates kept.
struct StrList {
  using Value = std::vector<std::string>;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// As StrList, but the text stays in the str objects.
struct StrListView {
  using Value = BorrowedStrs;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// A set or frozenset of str.
struct StrSet {
  using Value = std::vector<std::string>;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// An int (or an object convertible as an index) in 0 .. 2^64-1; anything
// outside raises the interpreter's OverflowError.
struct U64 {
  using Value = uint64_t;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// Exactly a bool: an int such as 1 is refused.
struct Bool {
  using Value = bool;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
  static std::string text(Value value) { return value ? "True" : "False"; }
};

// bytes, bytearray, or a sequence of ints 0..255.
struct BytesLike {
  using Value = Bytes;
  static constexpr bool kNamesParameterInTypeError = true;
  static bool convert(PyObject* object, Value& out);
};

// Anything json.dumps accepts, parsed back from the text it returns. What
// json.dumps raises passes through unchanged, so its TypeErrors are not
// given the parameter's name.
struct Json {
  using Value = json::Value;
  static constexpr bool kNamesParameterInTypeError = false;
  static bool convert(PyObject* object, Value& out);
};

// Anything json.dumps accepts, as the compact text of the value it spells
// (what a parsed Json value would be written as), made straight from the
// text without a tree. Refuses, raises and passes through exactly as Json.
struct JsonCompact {
  using Value = std::string;
  static constexpr bool kNamesParameterInTypeError = false;
  static bool convert(PyObject* object, Value& out);
};

// None is absent; anything else is converted as `Kind`.
template <typename Kind>
struct OptionalKind {
  using Value = std::optional<typename Kind::Value>;
  static constexpr bool kNamesParameterInTypeError = Kind::kNamesParameterInTypeError;
  static bool convert(PyObject* object, Value& out) {
    if (object == Py_None) {
      out.reset();
      return true;
    }
    return Kind::convert(object, out.emplace());
  }
};

using OptionalStr = OptionalKind<Str>;
using OptionalU64 = OptionalKind<U64>;

}  // namespace zr::module
