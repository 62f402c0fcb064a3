#include "reference_json.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace zr::fuzz {

namespace {

constexpr int kMaxLevels = 127;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<json::Value> Document() {
    SkipBlanks();
    std::optional<json::Value> value = ReadValue(0);
    SkipBlanks();
    if (!value || pos_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(text_[pos_]); }

  void SkipBlanks() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\r' || Peek() == '\n')) ++pos_;
  }

  bool Take(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  bool TakeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // `levels` counts the containers already open around this value.
  std::optional<json::Value> ReadValue(int levels) {
    if (AtEnd()) return std::nullopt;
    switch (Peek()) {
      case '[': return ReadArray(levels + 1);
      case '{': return ReadObject(levels + 1);
      case '"': {
        std::optional<std::string> s = ReadString();
        if (!s) return std::nullopt;
        return json::Value::String(std::move(*s));
      }
      case 't': return TakeWord("true") ? std::optional(json::Value::Bool(true)) : std::nullopt;
      case 'f': return TakeWord("false") ? std::optional(json::Value::Bool(false)) : std::nullopt;
      case 'n': return TakeWord("null") ? std::optional(json::Value::Null()) : std::nullopt;
      default: return ReadNumber();
    }
  }

  std::optional<json::Value> ReadArray(int levels) {
    if (levels > kMaxLevels) return std::nullopt;
    ++pos_;  // [
    json::Array items;
    SkipBlanks();
    if (Take(']')) return json::Value::MakeArray(std::move(items));
    while (true) {
      SkipBlanks();
      std::optional<json::Value> item = ReadValue(levels);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      SkipBlanks();
      if (Take(']')) return json::Value::MakeArray(std::move(items));
      if (!Take(',')) return std::nullopt;
    }
  }

  std::optional<json::Value> ReadObject(int levels) {
    if (levels > kMaxLevels) return std::nullopt;
    ++pos_;  // {
    std::vector<std::pair<std::string, json::Value>> members;  // text order
    SkipBlanks();
    if (!Take('}')) {
      while (true) {
        SkipBlanks();
        if (AtEnd() || Peek() != '"') return std::nullopt;
        std::optional<std::string> key = ReadString();
        if (!key) return std::nullopt;
        SkipBlanks();
        if (!Take(':')) return std::nullopt;
        SkipBlanks();
        std::optional<json::Value> value = ReadValue(levels);
        if (!value) return std::nullopt;
        members.emplace_back(std::move(*key), std::move(*value));
        SkipBlanks();
        if (Take('}')) break;
        if (!Take(',')) return std::nullopt;
      }
    }
    // The last occurrence of a key wins; keys end up in byte order.
    json::Object object;
    for (size_t i = 0; i < members.size(); ++i) {
      bool later_twin = false;
      for (size_t j = i + 1; j < members.size(); ++j) later_twin = later_twin || members[j].first == members[i].first;
      if (later_twin) {
        if (std::find(object.repeated_keys.begin(), object.repeated_keys.end(), members[i].first) ==
            object.repeated_keys.end()) {
          object.repeated_keys.push_back(members[i].first);
        }
        continue;
      }
      object.members.push_back(json::Member{std::move(members[i].first), std::move(members[i].second)});
    }
    auto by_key = [](const auto& a, const auto& b) { return a.key < b.key; };
    std::sort(object.members.begin(), object.members.end(), by_key);
    std::sort(object.repeated_keys.begin(), object.repeated_keys.end());
    return json::Value::MakeObject(std::move(object));
  }

  static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  std::optional<uint32_t> ReadHex4() {
    if (text_.size() - pos_ < 4) return std::nullopt;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return v;
  }

  // One UTF-8 encoded character of the text, checked: shortest form only,
  // no surrogates, nothing above U+10FFFF.
  bool CopyUtf8(std::string& out) {
    const unsigned char lead = Peek();
    int extra;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (text_.size() - pos_ <= static_cast<size_t>(extra)) return false;
    for (int i = 1; i <= extra; ++i) {
      const unsigned char c = static_cast<unsigned char>(text_[pos_ + i]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.append(text_.substr(pos_, static_cast<size_t>(extra) + 1));
    pos_ += static_cast<size_t>(extra) + 1;
    return true;
  }

  std::optional<std::string> ReadString() {
    ++pos_;  // "
    std::string out;
    while (true) {
      if (AtEnd()) return std::nullopt;
      const unsigned char c = Peek();
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) return std::nullopt;
      if (c >= 0x80) {
        if (!CopyUtf8(out)) return std::nullopt;
        continue;
      }
      ++pos_;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (AtEnd()) return std::nullopt;
      const char e = text_[pos_++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          std::optional<uint32_t> unit = ReadHex4();
          if (!unit) return std::nullopt;
          uint32_t cp = *unit;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!TakeWord("\\u")) return std::nullopt;
            std::optional<uint32_t> low = ReadHex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return std::nullopt;
      }
    }
  }

  bool TakeDigits() {
    size_t start = pos_;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
    return pos_ > start;
  }

  std::optional<json::Value> ReadNumber() {
    const size_t start = pos_;
    const bool negative = Take('-');
    if (AtEnd()) return std::nullopt;
    if (Peek() == '0') {
      ++pos_;
    } else if (!TakeDigits()) {
      return std::nullopt;
    }
    bool integral = true;
    if (Take('.')) {
      integral = false;
      if (!TakeDigits()) return std::nullopt;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!Take('+')) Take('-');
      if (!TakeDigits()) return std::nullopt;
    }
    const std::string literal(text_.substr(start, pos_ - start));
    if (integral) {
      // Exact integer arithmetic decides whether it fits 64 bits.
      const size_t first = negative ? 1 : 0;
      unsigned __int128 magnitude = 0;
      bool fits = true;
      for (size_t i = first; i < literal.size() && fits; ++i) {
        magnitude = magnitude * 10 + static_cast<unsigned>(literal[i] - '0');
        fits = magnitude <= (unsigned __int128)UINT64_MAX;
      }
      // "-0" is the integer 0: integers have no negative zero.
      if (fits && (!negative || magnitude == 0)) return json::Value::Unsigned(static_cast<uint64_t>(magnitude));
      if (fits && negative && magnitude <= (unsigned __int128)INT64_MAX + 1) {
        return json::Value::Negative(static_cast<int64_t>(-static_cast<__int128>(magnitude)));
      }
    }
    // strtod of glibc rounds correctly from any number of digits.
    errno = 0;
    const double d = std::strtod(literal.c_str(), nullptr);
    if (std::isinf(d)) return std::nullopt;
    return json::Value::Float(d);
  }

  std::string_view text_;
  size_t pos_ = 0;
};

void WriteString(std::string& out, std::string_view s) {
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

void WriteFloat(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  // The fewest significant digits that read back as d.
  char buf[64];
  for (int precision = 0; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*e", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  std::string text(buf);
  std::string sign;
  if (text[0] == '-') {
    sign = "-";
    text.erase(0, 1);
  }
  const size_t e = text.find('e');
  const int exponent = std::atoi(text.c_str() + e + 1);
  std::string digits;
  for (size_t i = 0; i < e; ++i) {
    if (text[i] != '.') digits.push_back(text[i]);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  out += sign;
  if (exponent >= -5 && exponent <= 15) {
    if (exponent < 0) {
      out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else if (static_cast<size_t>(exponent) + 1 < digits.size()) {
      out += digits.substr(0, static_cast<size_t>(exponent) + 1) + "." + digits.substr(static_cast<size_t>(exponent) + 1);
    } else {
      out += digits + std::string(static_cast<size_t>(exponent) + 1 - digits.size(), '0') + ".0";
    }
    return;
  }
  out += digits.substr(0, 1);
  if (digits.size() > 1) out += "." + digits.substr(1);
  out += "e" + std::to_string(exponent);
}

void Write(std::string& out, const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::kNull: out += "null"; return;
    case json::Kind::kBool: out += v.as_bool() ? "true" : "false"; return;
    case json::Kind::kUnsigned: out += std::to_string(v.as_unsigned()); return;
    case json::Kind::kNegative: out += std::to_string(v.as_negative()); return;
    case json::Kind::kFloat: WriteFloat(out, v.as_float()); return;
    case json::Kind::kString: WriteString(out, v.as_string()); return;
    case json::Kind::kArray: {
      out.push_back('[');
      for (size_t i = 0; i < v.as_array().size(); ++i) {
        if (i > 0) out.push_back(',');
        Write(out, v.as_array()[i]);
      }
      out.push_back(']');
      return;
    }
    case json::Kind::kObject: {
      out.push_back('{');
      const auto& members = v.as_object().members;
      for (size_t i = 0; i < members.size(); ++i) {
        if (i > 0) out.push_back(',');
        WriteString(out, members[i].key);
        out.push_back(':');
        Write(out, members[i].value);
      }
      out.push_back('}');
      return;
    }
  }
}

}  // namespace

std::optional<json::Value> reference_parse(std::string_view text) { return Reader(text).Document(); }

std::string reference_compact(const json::Value& value) {
  std::string out;
  Write(out, value);
  return out;
}

bool same_value(const json::Value& a, const json::Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case json::Kind::kNull: return true;
    case json::Kind::kBool: return a.as_bool() == b.as_bool();
    case json::Kind::kUnsigned: return a.as_unsigned() == b.as_unsigned();
    case json::Kind::kNegative: return a.as_negative() == b.as_negative();
    case json::Kind::kFloat: {
      const double x = a.as_float(), y = b.as_float();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case json::Kind::kString: return a.as_string() == b.as_string();
    case json::Kind::kArray: {
      const json::Array& x = a.as_array();
      const json::Array& y = b.as_array();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!same_value(x[i], y[i])) return false;
      }
      return true;
    }
    case json::Kind::kObject: {
      const json::Object& x = a.as_object();
      const json::Object& y = b.as_object();
      if (x.members.size() != y.members.size() || x.repeated_keys != y.repeated_keys) return false;
      for (size_t i = 0; i < x.members.size(); ++i) {
        if (x.members[i].key != y.members[i].key || !same_value(x.members[i].value, y.members[i].value)) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace zr::fuzz
