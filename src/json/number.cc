#include "json/number.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>

namespace zr::json {

namespace {

bool is_digit(char c) { return static_cast<unsigned>(c - '0') <= 9; }

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Up to 19 digits always fit 64 bits.
constexpr size_t kSafeDigits = 19;

// Exponents are read saturating at this magnitude: far beyond any float,
// and far from overflowing the sums below.
constexpr int64_t kExponentCap = int64_t{1} << 40;

// A number's text, split as the JSON grammar splits it,
// -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
// with the values that the common short numbers need taken on the way.
struct NumberText {
  bool negative = false;
  std::string_view integer;   // the digits before any point
  std::string_view fraction;  // the digits after the point
  bool has_point = false;
  bool has_exponent = false;
  int64_t exponent = 0;  // signed, saturating at kExponentCap
  // The integer and fraction digits as one integer, when there are at most
  // kSafeDigits of them (leading zeros count).
  uint64_t mantissa = 0;
  bool mantissa_exact = false;
};

// Scans digits from p, adding each to `value` while `room` lasts.
const char* scan_digits(const char* p, const char* end, uint64_t& value, size_t& room) {
  for (; p < end && is_digit(*p); ++p) {
    if (room > 0) {
      value = value * 10 + static_cast<unsigned>(*p - '0');
      --room;
    } else {
      room = SIZE_MAX;  // marks an overflow of the digit budget
      while (p < end && is_digit(*p)) ++p;
      return p;
    }
  }
  return p;
}

bool split_number(std::string_view token, NumberText& out) {
  const char* p = token.data();
  const char* end = p + token.size();
  out.negative = p < end && *p == '-';
  if (out.negative) ++p;
  const char* begin = p;
  if (p == end || !is_digit(*p)) return false;
  uint64_t mantissa = 0;
  size_t room = kSafeDigits;
  p = *p == '0' ? p + 1 : scan_digits(p, end, mantissa, room);
  out.integer = std::string_view(begin, static_cast<size_t>(p - begin));
  if (p < end && *p == '.') {
    out.has_point = true;
    begin = ++p;
    if (room != SIZE_MAX) {
      p = scan_digits(p, end, mantissa, room);
    } else {
      while (p < end && is_digit(*p)) ++p;
    }
    if (p == begin) return false;
    out.fraction = std::string_view(begin, static_cast<size_t>(p - begin));
  }
  out.mantissa = mantissa;
  out.mantissa_exact = room != SIZE_MAX;
  if (p < end && (*p == 'e' || *p == 'E')) {
    out.has_exponent = true;
    ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    begin = p;
    int64_t exponent = 0;
    for (; p < end && is_digit(*p); ++p) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (*p - '0');
    }
    if (p == begin) return false;
    out.exponent = negative ? -exponent : exponent;
  }
  return p == end;
}

// The integer's magnitude, when it fits 64 bits.
bool integer_magnitude(const NumberText& n, uint64_t& out) {
  if (n.integer.size() <= kSafeDigits) {
    out = n.mantissa;
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
// beyond 308 or below -323, so a rough figure decides it.
bool magnitude_is_large(const NumberText& n) {
  int64_t magnitude;
  if (n.integer != "0") {
    magnitude = static_cast<int64_t>(n.integer.size());
  } else {
    size_t zeros = 0;
    while (zeros < n.fraction.size() && n.fraction[zeros] == '0') ++zeros;
    magnitude = -static_cast<int64_t>(zeros);
  }
  return magnitude + n.exponent > 0;
}

// A mantissa below 2^53 and a power of ten up to 10^22 are both exact
// doubles, so one multiplication or division of them is the correctly
// rounded value: most floats in data are read this way, without the
// general reader.
bool read_short_float(const NumberText& n, double& out) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (!n.mantissa_exact || n.mantissa > (uint64_t{1} << 53)) return false;
  const int64_t exponent = n.exponent - static_cast<int64_t>(n.fraction.size());
  if (exponent < -22 || exponent > 22) return false;
  double value = static_cast<double>(n.mantissa);
  value = exponent < 0 ? value / kPowers[-exponent] : value * kPowers[exponent];
  out = n.negative ? -value : value;
  return true;
}

bool read_float(std::string_view token, const NumberText& parts, double& out) {
  if (read_short_float(parts, out)) return true;
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
    // "-0" is the integer 0: an integer has no negative zero.
    if (!parts.negative || magnitude == 0) {
      out.kind = NumberKind::kUnsigned;
      out.unsigned_value = magnitude;
      return true;
    }
    if (magnitude <= uint64_t{1} << 63) {
      out.kind = NumberKind::kNegative;
      out.negative_value = static_cast<int64_t>(0 - magnitude);  // two's complement: -2^63 included
      return true;
    }
    // A negative integer beyond 64 bits is a float.
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
