// The compile-time check that an operation takes the values of a parameter
// list: as many parameters as the list has, and at each position a type that
// receives that parameter's value without conversion (the value itself, a
// const reference to it, or a view of it). So a record whose parameters are
// in the wrong order, or of the wrong kind, for its operation does not
// compile, rather than passing, say, a bool where a count was meant.
#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace zr::module {

// The parameter types of a function, function pointer, or lambda (or other
// object with one non-template call operator).
template <typename F>
struct CallSignature : CallSignature<decltype(&F::operator())> {};
template <typename R, typename... A>
struct CallSignature<R(A...)> {
  using Parameters = std::tuple<A...>;
};
template <typename R, typename... A>
struct CallSignature<R (*)(A...)> : CallSignature<R(A...)> {};
template <typename C, typename R, typename... A>
struct CallSignature<R (C::*)(A...) const> : CallSignature<R(A...)> {};

// A parameter of type `P` receives a converted value of type `V`.
template <typename V, typename P>
concept Receives =
    // The value is passed as a const lvalue: P may not modify it in place.
    !(std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>) &&
    (std::same_as<std::remove_cvref_t<P>, V> ||
     (std::same_as<V, std::string> && std::same_as<std::remove_cvref_t<P>, std::string_view>) ||
     (std::same_as<V, std::optional<std::string>> &&
      std::same_as<std::remove_cvref_t<P>, std::optional<std::string_view>>));

template <typename Parameters, typename... Values, size_t... I>
constexpr bool receives_each(std::index_sequence<I...>) {
  return (Receives<Values, std::tuple_element_t<I, Parameters>> && ...);
}

template <typename Op, typename... Values>
concept TakesValues = requires { typename CallSignature<Op>::Parameters; } &&
                      std::tuple_size_v<typename CallSignature<Op>::Parameters> == sizeof...(Values) &&
                      receives_each<typename CallSignature<Op>::Parameters, Values...>(
                          std::index_sequence_for<Values...>());

}  // namespace zr::module
