// Reading JSON numbers and literals from their own text.
//
// Every number and literal of a JSON text is read here, from the bytes of its
// token, whether it stands alone on a line or deep inside a container, so a
// value reads the same wherever it stands. The JSON library's own scalar
// readers are not used: at the top level of a text they copy the token into
// short fixed buffers and misread long ones, and they refuse exponents of 20
// digits or more.
#pragma once

#include <cstdint>
#include <string_view>

namespace zr::json {

enum class NumberKind : uint8_t { kUnsigned, kNegative, kFloat };

struct Number {
  NumberKind kind = NumberKind::kUnsigned;
  uint64_t unsigned_value = 0;  // kUnsigned
  int64_t negative_value = 0;   // kNegative: below zero
  double float_value = 0;       // kFloat
};

// Reads `token`, which must be exactly one JSON number and nothing else.
// An integer that fits 64 bits (unsigned, or signed when negative) is an
// integer ("-0" is the integer 0); any other number is the float nearest to
// its decimal value (integers beyond 64 bits included; "-0.0" and "-0e0"
// are -0.0). A magnitude too small for a float reads as zero of the
// number's sign; one too large for a float makes the number invalid. False
// when the token is not a valid number.
bool read_number(std::string_view token, Number& out);

// Reads `token` as the literal true or false; false when it is neither.
bool read_bool_literal(std::string_view token, bool& out);

// `token` without the JSON whitespace (space, tab, CR, LF) that follows it.
std::string_view trim_trailing_whitespace(std::string_view token);

}  // namespace zr::json
