// Parameter descriptions and converted argument values.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <string>
#include <variant>
#include <vector>

#include "store/json_value.h"

namespace zr::module {

// How a Python argument is converted.
enum class ArgKind {
  kStr,        // str (or a subclass), taken as UTF-8
  kStrList,    // any sequence of str except a str itself
  kStrListView,  // as kStrList, but the text is borrowed from the str objects
  kStrSet,     // set or frozenset of str
  kU64,        // int (or an index-convertible object) in 0 .. 2^64-1
  kBool,       // exactly a bool
  kBytesLike,  // bytes, bytearray, or a sequence of ints 0..255
  kJson,       // anything json.dumps accepts
};

using Bytes = std::vector<uint8_t>;

// Text borrowed from Python str objects, which are kept alive (one new
// reference each) for as long as the views are. Large line lists are passed
// without copying every line; only ever created and dropped while the
// interpreter's lock is held.
class BorrowedStrs {
 public:
  BorrowedStrs() = default;
  void add(PyObject* owner, std::string_view text);  // steals the reference
  const std::vector<std::string_view>& views() const { return views_; }

 private:
  struct Owners {
    std::vector<PyObject*> objects;
    ~Owners();
  };
  std::vector<std::string_view> views_;
  std::shared_ptr<Owners> owners_ = std::make_shared<Owners>();
};

using Arg = std::variant<std::monostate, std::string, std::vector<std::string>, uint64_t, bool, Bytes, json::Value,
                         BorrowedStrs>;

struct Param {
  const char* name;
  ArgKind kind;
  bool required = true;     // must be passed (possibly as None when nullable)
  bool nullable = false;    // None means absent
  Arg default_value;        // used when not required and not passed
  bool convert_last = false;  // converted after every other argument
};

// A parameter that must be passed.
inline Param Required(const char* name, ArgKind kind) { return Param{name, kind, true, false, {}, false}; }
// A parameter that must be passed but may be None.
inline Param Nullable(const char* name, ArgKind kind) { return Param{name, kind, true, true, {}, false}; }
// A parameter defaulting to None.
inline Param Optional(const char* name, ArgKind kind) { return Param{name, kind, false, true, {}, false}; }
// A parameter with a default value.
inline Param Defaulted(const char* name, ArgKind kind, Arg value) {
  return Param{name, kind, false, false, std::move(value), false};
}
// A json parameter converted after all the others.
inline Param JsonLast(const char* name) { return Param{name, ArgKind::kJson, true, false, {}, true}; }

// The converted arguments of one call, in parameter order.
class Args {
 public:
  explicit Args(std::vector<Arg> values) : values_(std::move(values)) {}

  const std::string& str(size_t i) const { return std::get<std::string>(values_[i]); }
  // nullptr when absent.
  const std::string* opt_str(size_t i) const { return std::get_if<std::string>(&values_[i]); }
  const std::vector<std::string>& strs(size_t i) const { return std::get<std::vector<std::string>>(values_[i]); }
  const std::vector<std::string_view>& str_views(size_t i) const { return std::get<BorrowedStrs>(values_[i]).views(); }
  uint64_t u64(size_t i) const { return std::get<uint64_t>(values_[i]); }
  const uint64_t* opt_u64(size_t i) const { return std::get_if<uint64_t>(&values_[i]); }
  bool flag(size_t i) const { return std::get<bool>(values_[i]); }
  const Bytes& bytes(size_t i) const { return std::get<Bytes>(values_[i]); }
  const json::Value& json(size_t i) const { return std::get<json::Value>(values_[i]); }

 private:
  std::vector<Arg> values_;
};

}  // namespace zr::module
