// Numbers in the compact writer's form: integers in decimal, floats in
// their shortest round-trip digits, plain or with an exponent.
#include <charconv>
#include <cmath>

#include "json/write.h"

namespace zr::json {

void append_unsigned(std::string& out, uint64_t u) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, u);
  out.append(buf, r.ptr);
}

void append_signed(std::string& out, int64_t i) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, r.ptr);
}

namespace {

// Writes the decimal number 0.d1d2...dn x 10^k (d1 not zero, or the single
// digit 0 with k = 1) in the writer's form: plain decimal with at least one
// digit after the point when -5 < k <= 16, otherwise d1[.d2...dn]e(k-1).
void append_decimal(std::string& out, const char* digits, int n, int k) {
  if (k > -5 && k <= 16) {
    if (k <= 0) {
      out.append("0.");
      out.append(static_cast<size_t>(-k), '0');
      out.append(digits, static_cast<size_t>(n));
    } else if (k < n) {
      out.append(digits, static_cast<size_t>(k));
      out.push_back('.');
      out.append(digits + k, static_cast<size_t>(n - k));
    } else {
      out.append(digits, static_cast<size_t>(n));
      out.append(static_cast<size_t>(k - n), '0');
      out.append(".0");
    }
    return;
  }
  out.push_back(digits[0]);
  if (n > 1) {
    out.push_back('.');
    out.append(digits + 1, static_cast<size_t>(n - 1));
  }
  out.push_back('e');
  append_signed(out, k - 1);
}

}  // namespace

void append_float(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out.append("null");
    return;
  }
  // Shortest round-trip digits in scientific form: [-]d[.ddd]e[+-]xx.
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  const char* p = buf;
  if (*p == '-') {
    out.push_back('-');
    ++p;
  }
  char digits[20];
  int n = 0;
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  // p points at 'e'. The buffer is not terminated, so the exponent is read
  // only up to the end of what to_chars wrote.
  ++p;
  if (*p == '+') ++p;
  int exponent = 0;
  std::from_chars(p, r.ptr, exponent);
  // The decimal point sits after k digits: 10^(k-1) <= |d| < 10^k.
  append_decimal(out, digits, n, exponent + 1);
}

bool append_integer_text(std::string& out, std::string_view text) {
  constexpr size_t kMaxDigits = 18;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* p = begin;
  if (p < end && *p == '-') ++p;
  const char* digits = p;
  if (p == end || static_cast<unsigned>(*p - '0') > 9) return false;
  if (*p == '0') {
    // "-0" is the integer 0, written "0"; a digit after a leading zero is
    // not JSON (refused below).
    begin = digits;
    ++p;
  } else {
    while (p < end && static_cast<unsigned>(*p - '0') <= 9) {
      if (static_cast<size_t>(p - digits) == kMaxDigits) return false;
      ++p;
    }
  }
  const char* number_end = p;
  for (; p < end; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
  }
  out.append(begin, number_end);
  return true;
}

bool append_float_text(std::string& out, std::string_view text) {
  // A decimal of at most 15 significant digits in the range of normal
  // floats reads as the float whose shortest round-trip digits are exactly
  // those digits (15 digits always survive a round trip through a float), so
  // its form can be written from the text without formatting the float.
  constexpr int kMaxDigits = 15;
  const char* p = text.data();
  const char* end = p + text.size();
  bool negative = p < end && *p == '-';
  if (negative) ++p;

  // The significant digits (leading zeros skipped), and k, where the value
  // is 0.d1d2... x 10^k.
  char digits[kMaxDigits + 1];
  int n = 0;
  int k = 0;
  if (p == end || static_cast<unsigned>(*p - '0') > 9) return false;
  if (*p == '0') {
    ++p;  // "0" alone; "01" is refused below (a digit cannot follow)
  } else {
    for (; p < end && static_cast<unsigned>(*p - '0') <= 9; ++p) {
      if (n == kMaxDigits + 1) return false;
      digits[n++] = *p;
    }
    k = n;
  }
  bool has_fraction = p < end && *p == '.';
  if (has_fraction) {
    ++p;
    const char* first = p;
    if (n == 0) {
      while (p < end && *p == '0') ++p;  // 0.00d: the point sits left of d
      k = -static_cast<int>(p - first);
    }
    for (; p < end && static_cast<unsigned>(*p - '0') <= 9; ++p) {
      if (n == kMaxDigits + 1) return false;
      digits[n++] = *p;
    }
    if (p == first) return false;  // "1." has no digits after the point
  }
  bool has_exponent = p < end && (*p == 'e' || *p == 'E');
  if (has_exponent) {
    ++p;
    bool exponent_negative = false;
    if (p < end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    const char* first = p;
    int exponent = 0;
    for (; p < end && static_cast<unsigned>(*p - '0') <= 9; ++p) {
      if (p - first == 4) return false;
      exponent = exponent * 10 + (*p - '0');
    }
    if (p == first) return false;
    k += exponent_negative ? -exponent : exponent;
  }
  if (!has_fraction && !has_exponent) return false;  // an integer is not held as a float
  for (; p < end; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
  }
  while (n > 0 && digits[n - 1] == '0') --n;  // trailing zeros are not significant
  if (n == 0) {
    out.append(negative ? "-0.0" : "0.0");
    return true;
  }
  if (n > kMaxDigits) return false;
  // The range keeps clear of subnormals and overflow.
  if (k < -300 || k > 300) return false;
  if (negative) out.push_back('-');
  append_decimal(out, digits, n, k);
  return true;
}

}  // namespace zr::json
