// Typed parameter descriptors: a name, a kind, and maybe a default. A
// function's parameter list is a tuple of these, from which both its text
// signature and the types of the values its operation receives follow.
#pragma once

#include <Python.h>

#include <concepts>
#include <optional>
#include <string>
#include <utility>

#include "module/argument_kinds.h"

namespace zr::module {

// The default of a parameter that may be left out and then is absent.
struct NoneDefault {};
inline constexpr NoneDefault None{};

// Rewrites a pending TypeError of a conversion as "argument '<name>': <its
// message>"; any other pending exception is left as it is.
void name_parameter_in_type_error(const char* name);

template <typename T>
concept IsOptional = std::same_as<T, std::optional<typename T::value_type>>;

template <typename Kind>
class Param {
 public:
  using Value = typename Kind::Value;

  // A parameter that must be passed.
  explicit Param(const char* name) : name_(name) {}
  // A parameter that may be left out, taking `value`.
  Param(const char* name, Value value)
    requires std::copyable<Value>
      : name_(name), default_text_(Kind::text(value)), default_(std::move(value)) {}
  // A parameter that may be left out, and then is absent.
  Param(const char* name, NoneDefault)
    requires IsOptional<Value>
      : name_(name), default_text_("None"), default_(Value()) {}

  // Converted after every other parameter, just before the operation runs.
  Param converted_last() && {
    last_ = true;
    return std::move(*this);
  }

  const char* name() const { return name_; }
  bool required() const { return !default_.has_value(); }
  bool last() const { return last_; }
  // "name" or "name=default", as the text signature lists it.
  std::string signature_text() const { return required() ? name_ : std::string(name_) + "=" + default_text_; }

  // `object` is the argument passed, or nullptr when it was left out (which
  // binding allows only when there is a default).
  bool convert(PyObject* object, Value& out) const {
    if (object == nullptr) {
      if constexpr (std::copyable<Value>) out = *default_;  // only copyable values have defaults
      return true;
    }
    if (Kind::convert(object, out)) return true;
    if constexpr (Kind::kNamesParameterInTypeError) name_parameter_in_type_error(name_);
    return false;
  }

 private:
  const char* name_;
  std::string default_text_;
  std::optional<Value> default_;
  bool last_ = false;
};

}  // namespace zr::module
