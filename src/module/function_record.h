// One declarative record per Python function: its name, its typed parameter
// list and the operation it calls. The text signature is generated from the
// parameter list, and the operation is checked at compile time against the
// values the list converts, so a record cannot show one parameter list and
// take another.
#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "module/operation_check.h"
#include "module/parameters.h"
#include "module/to_python.h"

namespace zr::module {

// Binding holds the arguments of a call in an array of this size.
inline constexpr size_t kMaxParams = 8;

// What binding needs to know of a parameter.
struct ParamInfo {
  const char* name;
  bool required;
};

// Converts the bound arguments, runs the operation and converts its result.
class Invoker {
 public:
  virtual ~Invoker() = default;
  // `bound` holds one borrowed reference per parameter, nullptr for one left
  // out. Returns a new reference, or nullptr with a Python exception set.
  virtual PyObject* call(PyObject* const* bound) const = 0;
};

struct FunctionRecord {
  const char* name;
  std::vector<ParamInfo> params;
  // The text signature exactly as Python shows it, e.g. "init(zr_dir)".
  std::string signature;
  // Extra docstring after the signature, or nullptr.
  const char* doc;
  std::shared_ptr<const Invoker> invoker;
};

template <typename... Kinds>
std::tuple<Param<Kinds>...> params(Param<Kinds>... list) {
  return {std::move(list)...};
}

namespace detail {

template <typename Op, typename ToPython, typename... Kinds>
class TypedInvoker final : public Invoker {
 public:
  TypedInvoker(std::tuple<Param<Kinds>...> params, Op op, ToPython to_python)
      : params_(std::move(params)), op_(std::move(op)), to_python_(std::move(to_python)) {}

  PyObject* call(PyObject* const* bound) const override {
    std::tuple<typename Kinds::Value...> values;
    if (!convert_all(bound, values, std::index_sequence_for<Kinds...>())) return nullptr;
    return result_to_python(std::apply(op_, values), to_python_);
  }

 private:
  // In parameter order, those converted last after all the others; the first
  // failure stops the call.
  template <size_t... I>
  bool convert_all(PyObject* const* bound, std::tuple<typename Kinds::Value...>& values,
                   std::index_sequence<I...>) const {
    return (convert_at<I>(false, bound, values) && ...) && (convert_at<I>(true, bound, values) && ...);
  }

  template <size_t I>
  bool convert_at(bool last, PyObject* const* bound, std::tuple<typename Kinds::Value...>& values) const {
    const auto& param = std::get<I>(params_);
    return param.last() != last || param.convert(bound[I], std::get<I>(values));
  }

  std::tuple<Param<Kinds>...> params_;
  Op op_;
  ToPython to_python_;
};

}  // namespace detail

// The record of function `name`: binds `params`, calls `op` with their
// values in order, and turns its result into Python by `to_python` (applied
// to the value of a successful Result; a Status gives None, an error raises).
template <typename... Kinds, typename Op, typename ToPython = PlainToPython>
FunctionRecord function(const char* name, std::tuple<Param<Kinds>...> list, Op op, ToPython to_python = {},
                        const char* doc = nullptr) {
  static_assert(sizeof...(Kinds) <= kMaxParams, "more parameters than binding holds");
  static_assert(TakesValues<Op, typename Kinds::Value...>,
                "the operation's parameters do not match the record's parameter list in number, order or kind");
  FunctionRecord record{name, {}, std::string(name) + "(", doc, nullptr};
  std::apply(
      [&](const auto&... param) {
        (record.params.push_back(ParamInfo{param.name(), param.required()}), ...);
        const char* separator = "";
        ((record.signature += separator + param.signature_text(), separator = ", "), ...);
      },
      list);
  record.signature += ")";
  record.invoker = std::make_shared<detail::TypedInvoker<Op, ToPython, Kinds...>>(std::move(list), std::move(op),
                                                                                 std::move(to_python));
  return record;
}

// Each room lists its own functions (module/functions_<rooms>.cc); the module
// registers the lists in a fixed order (module.cc).
std::vector<FunctionRecord> store_functions();
std::vector<FunctionRecord> tracking_functions();
std::vector<FunctionRecord> registry_functions();
std::vector<FunctionRecord> index_functions();
std::vector<FunctionRecord> revocation_functions();
std::vector<FunctionRecord> purge_functions();
std::vector<FunctionRecord> token_index_functions();
std::vector<FunctionRecord> maintenance_functions();

}  // namespace zr::module
