// Writes strings the way Python's json.dumps does, so that the benchmarks'
// generated corpora look like data written by Python tools and the Python
// baselines see the very same bytes.
#pragma once

#include <string>
#include <string_view>

// Appends `s` as a JSON string, escaping like json.dumps: either with
// ensure_ascii (\uXXXX for every non-ASCII character, surrogate pairs above
// U+FFFF) or with raw UTF-8.
inline void append_json_string(std::string& out, std::string_view s, bool ensure_ascii) {
  static const char kHex[] = "0123456789abcdef";
  auto u_escape = [&](unsigned cp) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
  };
  out += '"';
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\n') {
      out += "\\n";
      ++i;
    } else if (c == '\t') {
      out += "\\t";
      ++i;
    } else if (c < 0x20) {
      u_escape(c);
      ++i;
    } else if (c < 0x80 || !ensure_ascii) {
      out += static_cast<char>(c);
      ++i;
    } else {
      unsigned cp;
      size_t len;
      if (c >= 0xF0) {
        cp = c & 0x07, len = 4;
      } else if (c >= 0xE0) {
        cp = c & 0x0F, len = 3;
      } else {
        cp = c & 0x1F, len = 2;
      }
      for (size_t k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        u_escape(0xD800 + (cp >> 10));
        u_escape(0xDC00 + (cp & 0x3FF));
      } else {
        u_escape(cp);
      }
      i += len;
    }
  }
  out += '"';
}
