#include "store/json_number.h"

#include <charconv>
#include <cstddef>
#include <cmath>
#include <system_error>

namespace zr::json {

namespace {

bool is_digit(char c) { return static_cast<unsigned>(c - '0') <= 9; }

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

const char* skip_digits(const char* p, const char* end) {
  while (p < end && is_digit(*p)) ++p;
  return p;
}

// Integers of up to 19 digits always fit 64 bits.
constexpr size_t kSafeDigits = 19;

// The parts of a number's text, as the JSON grammar splits it:
// -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
struct NumberText {
  bool negative = false;
  std::string_view integer;   // the digits before any point
  uint64_t integer_value = 0;  // their value, when there are at most kSafeDigits
  std::string_view fraction;  // the digits after the point
  bool exponent_negative = false;
  std::string_view exponent;  // the exponent's digits
  bool has_point = false;
  bool has_exponent = false;
};

bool split_number(std::string_view token, NumberText& out) {
  const char* p = token.data();
  const char* end = p + token.size();
  out.negative = p < end && *p == '-';
  if (out.negative) ++p;
  const char* begin = p;
  if (p == end || !is_digit(*p)) return false;
  // The integer's value is taken while its digits are scanned: most
  // numbers are short integers, and this is their whole reading.
  uint64_t value = 0;
  if (*p == '0') {
    ++p;
  } else {
    const char* safe_end = end - begin > static_cast<ptrdiff_t>(kSafeDigits) ? begin + kSafeDigits : end;
    for (; p < safe_end && is_digit(*p); ++p) value = value * 10 + unsigned(*p - '0');
    p = skip_digits(p, end);
  }
  out.integer_value = value;
  out.integer = std::string_view(begin, static_cast<size_t>(p - begin));
  if (p < end && *p == '.') {
    out.has_point = true;
    begin = ++p;
    p = skip_digits(p, end);
    if (p == begin) return false;
    out.fraction = std::string_view(begin, static_cast<size_t>(p - begin));
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    out.has_exponent = true;
    ++p;
    if (p < end && (*p == '+' || *p == '-')) out.exponent_negative = *p++ == '-';
    begin = p;
    p = skip_digits(p, end);
    if (p == begin) return false;
    out.exponent = std::string_view(begin, static_cast<size_t>(p - begin));
  }
  return p == end;
}

// The integer's magnitude, when it fits 64 bits.
bool integer_magnitude(const NumberText& n, uint64_t& out) {
  if (n.integer.size() <= kSafeDigits) {
    out = n.integer_value;
    return true;
  }
  if (n.integer.size() > 20) return false;
  uint64_t value = 0;
  for (char c : n.integer) {
    if (__builtin_mul_overflow(value, 10u, &value) || __builtin_add_overflow(value, unsigned(c - '0'), &value)) {
      return false;
    }
  }
  out = value;
  return true;
}

// Whether a number the float reader called out of range is too large (as
// opposed to too small): the sign of its decimal magnitude, the power of ten
// just above its first significant digit. Out of range means a magnitude
// beyond 308 or below -323, so a rough figure decides it; the exponent's
// digits are read saturating, however many there are.
bool magnitude_is_large(const NumberText& n) {
  constexpr int64_t kCap = int64_t{1} << 40;
  int64_t exponent = 0;
  for (char c : n.exponent) {
    exponent = exponent * 10 + (c - '0');
    if (exponent > kCap) {
      exponent = kCap;
      break;
    }
  }
  if (n.exponent_negative) exponent = -exponent;
  int64_t magnitude;
  if (n.integer != "0") {
    magnitude = static_cast<int64_t>(n.integer.size());
  } else {
    size_t zeros = 0;
    while (zeros < n.fraction.size() && n.fraction[zeros] == '0') ++zeros;
    magnitude = -static_cast<int64_t>(zeros);
  }
  return magnitude + exponent > 0;
}

bool read_float(std::string_view token, const NumberText& parts, double& out) {
  double value = 0;
  const char* end = token.data() + token.size();
  std::from_chars_result r = std::from_chars(token.data(), end, value);
  if (r.ptr != end) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // Too small for a float is zero (of the number's sign); too large is
    // not a number the store can hold.
    if (magnitude_is_large(parts)) return false;
    value = parts.negative ? -0.0 : 0.0;
  } else if (r.ec != std::errc() || !std::isfinite(value)) {
    return false;
  }
  out = value;
  return true;
}

}  // namespace

bool read_number(std::string_view token, Number& out) {
  NumberText parts;
  if (!split_number(token, parts)) return false;
  uint64_t magnitude;
  if (!parts.has_point && !parts.has_exponent && integer_magnitude(parts, magnitude)) {
    if (!parts.negative) {
      out.kind = NumberKind::kUnsigned;
      out.unsigned_value = magnitude;
      return true;
    }
    if (magnitude != 0 && magnitude <= uint64_t{1} << 63) {
      out.kind = NumberKind::kNegative;
      out.negative_value = static_cast<int64_t>(0 - magnitude);  // two's complement: -2^63 included
      return true;
    }
    // "-0" is the float -0.0; a negative integer beyond 64 bits is a float.
  }
  out.kind = NumberKind::kFloat;
  return read_float(token, parts, out.float_value);
}

bool read_bool_literal(std::string_view token, bool& out) {
  if (token == "true") {
    out = true;
    return true;
  }
  if (token == "false") {
    out = false;
    return true;
  }
  return false;
}

std::string_view trim_trailing_whitespace(std::string_view token) {
  while (!token.empty() && is_json_whitespace(token.back())) token.remove_suffix(1);
  return token;
}

}  // namespace zr::json
