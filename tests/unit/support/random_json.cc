#include "support/random_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace zr::test {

std::string RandomJson::text() {
  std::string s = blank();
  if (shape_.any_top_value) {
    s += value(0);
  } else {
    s += pick(5) == 0 ? array(0) : object(0);
  }
  return s + blank();
}

std::string RandomJson::blank() {
  static const char* kBlanks[] = {"", "", "", " ", "\t", "\r\n ", "  "};
  return kBlanks[pick(std::size(kBlanks))];
}

std::string RandomJson::value(int depth) {
  switch (pick(depth >= shape_.max_depth ? 7 : 9)) {
    case 0: case 1: case 2: return string_literal();
    case 3: case 4: return number();
    case 5: return pick(2) ? "true" : "false";
    case 6: return "null";
    case 7: return object(depth + 1);
    default: return array(depth + 1);
  }
}

std::string RandomJson::object(int depth) {
  // Few keys, so that they repeat; the rare last ones are spelled with
  // escapes, one of them the same key as "a".
  static const char* kKeys[] = {"text", "id", "meta", "a", "b", "B", "", "ab", "a b", "\xc3\xa9t\xc3\xa9",
                                "z", "lang", "score", "tags", "\xf0\x9f\x99\x82", "~", "a\\nb", "\\u0061"};
  std::string s = "{" + blank();
  for (size_t n = pick(7), i = 0; i < n; ++i) {
    if (i) s += blank() + "," + blank();
    s += "\"" + std::string(kKeys[pick(pick(10) == 0 ? std::size(kKeys) : std::size(kKeys) - 2)]) + "\"";
    s += blank() + ":" + blank() + value(depth);
  }
  return s + blank() + "}";
}

std::string RandomJson::array(int depth) {
  std::string s = "[" + blank();
  for (size_t n = pick(6), i = 0; i < n; ++i) {
    if (i) s += blank() + "," + blank();
    s += value(depth);
  }
  return s + blank() + "]";
}

std::string RandomJson::number() {
  if (shape_.written_floats && pick(2) == 0) return written_float();
  static const char* kNumbers[] = {
      "0", "-0", "7", "-12", "4096", "18446744073709551615", "18446744073709551616", "-9223372036854775808",
      "-9223372036854775809", "123456789012345678", "1234567890123456789", "0.5", "-0.0", "3.14159", "1e5",
      "1E+2", "2.5e-3", "1e21", "1e400", "-1e-400", "0.1000000000000000055511151231257827",
      "123456789012345678901234567890", "1.0", "100.0", "5e-324", "1.7976931348623157e308", "0e0", "2.50",
      "1e16", "1E-7", "0.00001", "123.456e3", "0.0e5", "-0.000", "1e-300", "123456789012345.0",
      "1234567890123456.0", "0.1e-299", "100.5E+0002", "1.5e00001", "9.99999999999999e300", "-0e0", "-0E+0",
      // Not numbers: the whole text is then invalid.
      "1.", ".5", "01.5", "1e", "1.5e+", "-", "1.5x", "1..5", "--1", "1e5.5", "-.5"};
  constexpr size_t kInvalid = 11;
  return kNumbers[pick(shape_.invalid_spellings ? std::size(kNumbers) : std::size(kNumbers) - kInvalid)];
}

std::string RandomJson::written_float() {
  const double magnitude = std::pow(10.0, static_cast<double>(pick(40)) - 20.0);
  const double v = std::uniform_real_distribution<double>(-1.0, 1.0)(rng_) * magnitude;
  char buf[64];
  switch (pick(6)) {
    case 0: std::snprintf(buf, sizeof buf, "%.17g", v); break;
    case 1: std::snprintf(buf, sizeof buf, "%.15g", v); break;
    case 2: std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(pick(17)), v); break;
    case 3: std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(pick(25)), v); break;
    case 4: std::snprintf(buf, sizeof buf, "%.*E", static_cast<int>(pick(5)), v); break;
    default: *std::to_chars(buf, buf + sizeof buf - 1, v).ptr = '\0';
  }
  std::string s = buf;
  if (pick(4) == 0 && s.find_first_of(".eE") != std::string::npos) s += "000";
  return s;
}

std::string RandomJson::string_literal() {
  static const char* kPieces[] = {
      "plain words ", "caf\xc3\xa9", "\xe6\x95\xb0\xe6\x8d\xae", "\xf0\x9f\x9a\x80", "\\u00e9", "\\u6570",
      "\\ud83d\\ude80", "\\n", "\\t", "\\\"", "\\\\", "\\/", "\\u001f", "\\u0000", "\\u0022", "\\b\\f\\r",
      "\x7f", "\\u2028", "abcdefghijklmnopqrstuvwxyz0123456789 ABCDEFGHIJ", "\\u00C9", "\\uD83D\\uDE00",
      "\\u001F", "\\u005c", "\\u002f", "\\u007f", "\\u000a", " ",
      "long plain text without any escapes in it, long enough for a block or two",
      // Not valid in a string: the whole text is then invalid.
      "\\x", "\\u12", "\\ud800", "\\udc00", "\\ud800\\u0041", "\\uDBFF\\uDBFF", "\\u00g0"};
  constexpr size_t kInvalid = 7;
  std::string s = "\"";
  for (size_t n = pick(8); n > 0; --n) {
    size_t choices = std::size(kPieces) - kInvalid;
    if (shape_.invalid_spellings && pick(40) == 0) choices = std::size(kPieces);
    s += kPieces[pick(choices)];
  }
  return s + "\"";
}

void RandomJson::damage(std::string& s, std::string_view bytes) {
  const size_t at = pick(s.size() + 1);
  const char byte = bytes[pick(bytes.size())];
  switch (s.empty() ? 1 : pick(5)) {
    case 0: if (at < s.size()) s[at] = byte; else s.back() = byte; break;
    case 1: s.insert(at, 1, byte); break;
    case 2: s.erase(at, 1 + pick(3)); break;
    case 3: s.insert(at, s.substr(pick(s.size()), 1 + pick(8))); break;
    default: s.resize(at);
  }
}

}  // namespace zr::test
