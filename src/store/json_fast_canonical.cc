#include "store/json_fast_canonical.h"

#include <algorithm>
#include <cstring>

#include "base/byte_block.h"
#include "store/json_number.h"
#include "store/json_parse.h"
#include "store/json_write.h"

namespace zr::json {
ZR_ISA_BEGIN

namespace {

// Far below the general parser's limit: a text nested deeper is left to it.
constexpr int kMaxFastNesting = 64;

inline bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline void skip_whitespace(const char*& p, const char* end) {
  while (p < end && is_whitespace(*p)) ++p;
}

inline bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence of two to four bytes at p
// (whose first byte is not ASCII), or 0: overlong forms, surrogates and code
// points above U+10FFFF are malformed.
inline size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = p[0];
  const size_t left = static_cast<size_t>(end - p);
  if (c >= 0xC2 && c <= 0xDF) return left >= 2 && is_continuation(p[1]) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (left < 3 || !is_continuation(p[1]) || !is_continuation(p[2])) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;   // overlong
    if (c == 0xED && p[1] > 0x9F) return 0;   // a surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (left < 4 || !is_continuation(p[1]) || !is_continuation(p[2]) || !is_continuation(p[3])) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;   // overlong
    if (c == 0xF4 && p[1] > 0x8F) return 0;   // above U+10FFFF
    return 4;
  }
  return 0;
}

// Scans the body of a string literal from p (just after its opening
// quotation mark) to its closing quotation mark, which it returns; nullptr
// when the literal is unterminated or holds a control character or
// malformed UTF-8. `has_escape` is set when a backslash occurs; the escapes
// themselves are checked when they are re-spelled.
const char* scan_string_body(const char* p, const char* end, bool& has_escape) {
  for (;;) {
#if ZR_HAS_BYTE_BLOCK
    // Long runs of plain ASCII are the bulk of most documents.
    const base::ByteBlock quote = base::ByteBlock::splat('"');
    const base::ByteBlock backslash = base::ByteBlock::splat('\\');
    const base::ByteBlock below_space = base::ByteBlock::splat(0x1F);
    while (static_cast<size_t>(end - p) >= base::ByteBlock::kSize) {
      const base::ByteBlock v = base::ByteBlock::load(p);
      const uint32_t stops = ((v == quote) | (v == backslash) | v.at_most(below_space)).mask() | v.mask();
      if (stops != 0) {
        p += __builtin_ctz(stops);
        break;
      }
      p += base::ByteBlock::kSize;
    }
#endif
    for (; p < end; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c == '"') return p;
      if (c == '\\') {
        has_escape = true;
        if (end - p < 2) return nullptr;
        ++p;  // the escaped character: never the closing quotation mark
        continue;
      }
      if (c < 0x20) return nullptr;
      if (c >= 0x80) {
        const size_t length = utf8_sequence_length(reinterpret_cast<const unsigned char*>(p),
                                                   reinterpret_cast<const unsigned char*>(end));
        if (length == 0) return nullptr;
        p += length - 1;
        continue;
      }
#if ZR_HAS_BYTE_BLOCK
      // Plain ASCII again: back to whole blocks.
      ++p;
      break;
#endif
    }
    if (p >= end) return nullptr;
  }
}

// Matches the literal `word` at p; what follows it is checked by the caller.
inline bool take_literal(const char*& p, const char* end, std::string_view word) {
  if (static_cast<size_t>(end - p) < word.size() || std::memcmp(p, word.data(), word.size()) != 0) return false;
  p += word.size();
  return true;
}

inline bool is_number_byte(char c) {
  return static_cast<unsigned>(c - '0') <= 9 || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

}  // namespace

bool FastCanonicalizer::Run(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size() + 64);
  out_ = &out;
  members_.clear();
  const char* p = text.data();
  end_ = p + text.size();
  skip_whitespace(p, end_);
  // A scalar root is rare in data files and has rules of its own.
  if (p == end_ || (*p != '{' && *p != '[')) return false;
  if (!ReadValue(p, 0)) return false;
  skip_whitespace(p, end_);
  return p == end_;
}

bool FastCanonicalizer::ReadValue(const char*& p, int depth) {
  switch (*p) {
    case '"': return ReadString(p);
    case '{': return depth < kMaxFastNesting && ReadObject(p, depth);
    case '[': return depth < kMaxFastNesting && ReadArray(p, depth);
    case 't':
      out_->append("true");
      return take_literal(p, end_, "true");
    case 'f':
      out_->append("false");
      return take_literal(p, end_, "false");
    case 'n':
      out_->append("null");
      return take_literal(p, end_, "null");
    default:
      return (*p == '-' || static_cast<unsigned>(*p - '0') <= 9) && ReadNumber(p);
  }
}

// On entry p is at the opening brace; on success, just past the closing one.
// Every value is followed by whitespace and then a comma or the closing
// bracket, or the text is declined, so a literal or number running into
// other bytes ("truex", "1x") never passes.
bool FastCanonicalizer::ReadObject(const char*& p, int depth) {
  ++p;
  out_->push_back('{');
  const size_t first = members_.size();
  skip_whitespace(p, end_);
  if (p < end_ && *p == '}') {
    ++p;
    out_->push_back('}');
    return true;
  }
  for (;;) {
    if (p == end_ || *p != '"') return false;
    bool has_escape = false;
    const char* key_end = scan_string_body(p + 1, end_, has_escape);
    if (key_end == nullptr || has_escape) return false;  // escaped keys sort by their unescaped bytes
    if (members_.size() > first) out_->push_back(',');
    const size_t index = members_.size();
    const std::string_view key(p + 1, static_cast<size_t>(key_end - p - 1));
    members_.push_back(MemberSpan{key, out_->size(), 0});
    out_->push_back('"');
    out_->append(key);
    out_->append("\":");
    p = key_end + 1;
    skip_whitespace(p, end_);
    if (p == end_ || *p != ':') return false;
    ++p;
    skip_whitespace(p, end_);
    if (p == end_ || !ReadValue(p, depth + 1)) return false;
    members_[index].end = out_->size();
    skip_whitespace(p, end_);
    if (p == end_) return false;
    if (*p == '}') break;
    if (*p != ',') return false;
    ++p;
    skip_whitespace(p, end_);
  }
  ++p;
  if (!SortMembers(first, depth == 0)) return false;
  members_.resize(first);
  out_->push_back('}');
  return true;
}

bool FastCanonicalizer::ReadArray(const char*& p, int depth) {
  ++p;
  out_->push_back('[');
  skip_whitespace(p, end_);
  if (p < end_ && *p == ']') {
    ++p;
    out_->push_back(']');
    return true;
  }
  for (;;) {
    if (p == end_ || !ReadValue(p, depth + 1)) return false;
    skip_whitespace(p, end_);
    if (p == end_) return false;
    if (*p == ']') break;
    if (*p != ',') return false;
    out_->push_back(',');
    ++p;
    skip_whitespace(p, end_);
  }
  ++p;
  out_->push_back(']');
  return true;
}

bool FastCanonicalizer::ReadString(const char*& p) {
  bool has_escape = false;
  const char* close = scan_string_body(p + 1, end_, has_escape);
  if (close == nullptr) return false;
  const std::string_view body(p + 1, static_cast<size_t>(close - p - 1));
  p = close + 1;
  if (has_escape) return append_string_from_escaped(*out_, body);
  // Checked above: the body holds nothing that needs an escape.
  out_->push_back('"');
  out_->append(body);
  out_->push_back('"');
  return true;
}

// The number's text is handed to the writer's readers together with the
// whitespace after it, just as the general parser hands them its tokens, so
// both routes write the same text for it.
bool FastCanonicalizer::ReadNumber(const char*& p) {
  const char* start = p;
  while (p < end_ && is_number_byte(*p)) ++p;
  const std::string_view token(start, static_cast<size_t>(p - start));
  skip_whitespace(p, end_);
  const std::string_view spelled(start, static_cast<size_t>(p - start));
  if (append_integer_text(*out_, spelled) || append_float_text(*out_, spelled)) return true;
  json::Number number;
  if (!read_number(token, number)) return false;
  switch (number.kind) {
    case NumberKind::kUnsigned: append_unsigned(*out_, number.unsigned_value); break;
    case NumberKind::kNegative: append_signed(*out_, number.negative_value); break;
    case NumberKind::kFloat: append_float(*out_, number.float_value); break;
  }
  return true;
}

// Puts the members of the object whose first member is members_[first] in
// ascending byte order of their keys, in place; false when a key repeats
// (the general parser decides which occurrence stays). The outermost
// object's text runs to the end of the output, so its sorted copy simply
// becomes the output.
bool FastCanonicalizer::SortMembers(size_t first, bool outermost) {
  const size_t count = members_.size() - first;
  bool in_order = true;
  for (size_t i = first + 1; i < members_.size(); ++i) {
    if (!(members_[i - 1].key < members_[i].key)) {
      in_order = false;
      break;
    }
  }
  if (in_order) return true;

  order_.clear();
  for (size_t i = 0; i < count; ++i) order_.push_back(static_cast<uint32_t>(first + i));
  std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) { return members_[a].key < members_[b].key; });
  for (size_t i = 1; i < order_.size(); ++i) {
    if (members_[order_[i - 1]].key == members_[order_[i]].key) return false;
  }

  std::string& out = *out_;
  const size_t region_begin = members_[first].begin;
  scratch_.clear();
  scratch_.reserve(out.size() + 1);
  if (outermost) scratch_.append(out, 0, region_begin);
  for (size_t i = 0; i < order_.size(); ++i) {
    if (i > 0) scratch_.push_back(',');
    const MemberSpan& m = members_[order_[i]];
    scratch_.append(out, m.begin, m.end - m.begin);
  }
  if (outermost) {
    out.swap(scratch_);
  } else {
    out.replace(region_begin, std::string::npos, scratch_);
  }
  return true;
}

ZR_ISA_END
}  // namespace zr::json
