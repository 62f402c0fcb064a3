// Strings in the compact writer's form: minimal escaping, raw UTF-8.
#include <array>
#include <cstdint>
#include <cstring>

#include "base/byte_block.h"
#include "json/write.h"

namespace zr::json {
ZR_ISA_BEGIN

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


// The length of the run at the start of `s` that needs no escaping.
size_t plain_prefix(const char* s, size_t n) {
  size_t i = 0;
#if ZR_HAS_BYTE_BLOCK
  // Long strings are the bulk of a document's bytes: test a block at a time.
  const base::ByteBlock quote = base::ByteBlock::splat('"');
  const base::ByteBlock backslash = base::ByteBlock::splat('\\');
  const base::ByteBlock below_space = base::ByteBlock::splat(0x1F);
  for (; i + base::ByteBlock::kSize <= n; i += base::ByteBlock::kSize) {
    const base::ByteBlock v = base::ByteBlock::load(s + i);
    const uint32_t mask = (v.at_most(below_space) | (v == quote) | (v == backslash)).mask();
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i) {
    if (needs_escape(static_cast<unsigned char>(s[i]))) return i;
  }
  return n;
}

// 0-15 for a hex digit, 0xFF for anything else.
constexpr std::array<uint8_t, 256> kHexValue = [] {
  std::array<uint8_t, 256> table{};
  for (auto& v : table) v = 0xFF;
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['a' + i] = static_cast<uint8_t>(10 + i);
    table['A' + i] = static_cast<uint8_t>(10 + i);
  }
  return table;
}();

// The four hex digits at p (the caller checked that they are there), or a
// value above 0xFFFF when one is not a hex digit.
inline uint32_t hex4(const char* p) {
  uint32_t a = kHexValue[static_cast<unsigned char>(p[0])], b = kHexValue[static_cast<unsigned char>(p[1])];
  uint32_t c = kHexValue[static_cast<unsigned char>(p[2])], d = kHexValue[static_cast<unsigned char>(p[3])];
  if ((a | b | c | d) > 0xF) return 0x10000;
  return a << 12 | b << 8 | c << 4 | d;
}

inline char* put_utf8(char* w, uint32_t cp) {
  if (cp < 0x800) {
    *w++ = static_cast<char>(0xC0 | cp >> 6);
  } else {
    if (cp < 0x10000) {
      *w++ = static_cast<char>(0xE0 | cp >> 12);
    } else {
      *w++ = static_cast<char>(0xF0 | cp >> 18);
      *w++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    }
    *w++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
  }
  *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  return w;
}

// Writes the shortest escape of an ASCII character that needs one.
inline char* put_escape(char* w, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  *w++ = '\\';
  switch (c) {
    case '"': *w++ = '"'; break;
    case '\\': *w++ = '\\'; break;
    case '\b': *w++ = 'b'; break;
    case '\t': *w++ = 't'; break;
    case '\n': *w++ = 'n'; break;
    case '\f': *w++ = 'f'; break;
    case '\r': *w++ = 'r'; break;
    default:
      *w++ = 'u';
      *w++ = '0';
      *w++ = '0';
      *w++ = kHex[c >> 4];
      *w++ = kHex[c & 0xF];
  }
  return w;
}

// Bytes the block copy below may write past the end of the text it copies.
constexpr size_t kCopySlack = 32;

// Copies the text at p up to the next backslash (or end) to w; returns the
// number of bytes copied. May write up to kCopySlack bytes beyond them.
inline size_t copy_to_backslash(const char* p, const char* end, char* w) {
  const char* start = p;
#if ZR_HAS_BYTE_BLOCK
  static_assert(base::ByteBlock::kSize <= kCopySlack);
  const base::ByteBlock backslash = base::ByteBlock::splat('\\');
  while (static_cast<size_t>(end - p) >= base::ByteBlock::kSize) {
    const base::ByteBlock v = base::ByteBlock::load(p);
    v.store(w);
    const uint32_t mask = (v == backslash).mask();
    if (mask != 0) return static_cast<size_t>(p - start) + static_cast<size_t>(__builtin_ctz(mask));
    p += base::ByteBlock::kSize;
    w += base::ByteBlock::kSize;
  }
#endif
  for (; p < end && *p != '\\'; ++p) *w++ = *p;
  return static_cast<size_t>(p - start);
}

}  // namespace

void append_string(std::string& out, std::string_view s) {
  out.push_back('"');
  const char* p = s.data();
  size_t left = s.size();
  while (left > 0) {
    size_t run = plain_prefix(p, left);
    out.append(p, run);
    if (run == left) break;
    append_escape(out, static_cast<unsigned char>(p[run]));
    p += run + 1;
    left -= run + 1;
  }
  out.push_back('"');
}

bool append_string_from_escaped(std::string& out, std::string_view escaped) {
  // Only the escapes change: the text between them is already as the
  // writer would write it. \" \\ \b \f \n \r \t are kept, \/ and every
  // \u escape become the character itself or its shortest escape, never
  // longer than the escape, so the result fits in the body's length.
  const size_t mark = out.size();
  out.resize(mark + escaped.size() + 2 + kCopySlack);
  char* w = out.data() + mark;
  *w++ = '"';
  const char* p = escaped.data();
  const char* end = p + escaped.size();
  auto fail = [&] {
    out.resize(mark);
    return false;
  };
  while (p < end) {
    if (*p != '\\') {  // escapes often come in a row (\uXXXX for each letter of a word)
      size_t run = copy_to_backslash(p, end, w);
      p += run;
      w += run;
      if (p == end) break;
    }
    if (end - p < 2) return fail();  // a lone backslash at the end
    char kind = p[1];
    if (kind == 'u') {
      if (end - p < 6) return fail();
      uint32_t cp = hex4(p + 2);
      p += 6;
      if (cp > 0xFFFF || (cp >= 0xDC00 && cp <= 0xDFFF)) return fail();  // bad digits, or a low surrogate alone
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return fail();  // a high surrogate alone
        uint32_t low = hex4(p + 2);
        if (low < 0xDC00 || low > 0xDFFF) return fail();
        p += 6;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      if (cp >= 0x80) {
        w = put_utf8(w, cp);
      } else if (needs_escape(static_cast<unsigned char>(cp))) {
        w = put_escape(w, static_cast<unsigned char>(cp));
      } else {
        *w++ = static_cast<char>(cp);
      }
      continue;
    }
    if (kind == '/') {
      *w++ = '/';
    } else if (kind == '"' || kind == '\\' || kind == 'b' || kind == 'f' || kind == 'n' || kind == 'r' ||
               kind == 't') {
      *w++ = '\\';
      *w++ = kind;
    } else {
      return fail();  // not an escape
    }
    p += 2;
  }
  *w++ = '"';
  out.resize(static_cast<size_t>(w - out.data()));
  return true;
}

ZR_ISA_END
}  // namespace zr::json
