#include "store/json_write.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zr::json {

namespace {

// Bytes that cannot stand for themselves inside a string literal.
constexpr bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out.append("\\\""); return;
    case '\\': out.append("\\\\"); return;
    case '\b': out.append("\\b"); return;
    case '\t': out.append("\\t"); return;
    case '\n': out.append("\\n"); return;
    case '\f': out.append("\\f"); return;
    case '\r': out.append("\\r"); return;
    default: {
      static constexpr char kHex[] = "0123456789abcdef";
      char buf[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(buf, sizeof buf);
    }
  }
}

}  // namespace

void append_string(std::string& out, std::string_view s) {
  out.push_back('"');
  size_t run_start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (!needs_escape(c)) continue;
    out.append(s.data() + run_start, i - run_start);
    append_escape(out, c);
    run_start = i + 1;
  }
  out.append(s.data() + run_start, s.size() - run_start);
  out.push_back('"');
}

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
  int exponent = std::atoi(p + 1);  // p points at 'e'
  // The decimal point sits after k digits: 10^(k-1) <= |d| < 10^k.
  int k = exponent + 1;
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

void append_bool(std::string& out, bool b) { out.append(b ? "true" : "false"); }

void append_compact(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Kind::kNull: out.append("null"); return;
    case Kind::kBool: append_bool(out, value.as_bool()); return;
    case Kind::kUnsigned: append_unsigned(out, value.as_unsigned()); return;
    case Kind::kNegative: append_signed(out, value.as_negative()); return;
    case Kind::kFloat: append_float(out, value.as_float()); return;
    case Kind::kString: append_string(out, value.as_string()); return;
    case Kind::kArray: {
      out.push_back('[');
      bool first = true;
      for (const Value& item : value.as_array()) {
        if (!first) out.push_back(',');
        first = false;
        append_compact(out, item);
      }
      out.push_back(']');
      return;
    }
    case Kind::kObject: {
      out.push_back('{');
      bool first = true;
      for (const Member& m : value.as_object().members) {
        if (!first) out.push_back(',');
        first = false;
        append_string(out, m.key);
        out.push_back(':');
        append_compact(out, m.value);
      }
      out.push_back('}');
      return;
    }
  }
}

std::string to_compact(const Value& value) {
  std::string out;
  out.reserve(128);
  append_compact(out, value);
  return out;
}

}  // namespace zr::json
