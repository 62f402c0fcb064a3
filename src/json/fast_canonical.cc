#include "json/fast_canonical.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "base/byte_block.h"
#include "json/number.h"
#include "json/parse.h"
#include "json/write.h"

namespace zr::json {
ZR_ISA_BEGIN

namespace {

// Far below the general parser's limit: a text nested deeper is left to it.
constexpr int kMaxFastNesting = 64;

inline bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline void skip_whitespace(const char*& p, const char* end) {
  while (p < end && is_whitespace(*p)) ++p;
}

// Where the quotation marks, backslashes and control characters are among
// 64 readable bytes at p: bit i stands for p[i].
struct ByteMasks {
  uint64_t quote = 0;
  uint64_t backslash = 0;
  uint64_t control = 0;
};

inline ByteMasks masks_of_64(const char* p) {
  ByteMasks m;
#if ZR_HAS_BYTE_BLOCK
  const base::ByteBlock quote = base::ByteBlock::splat('"');
  const base::ByteBlock backslash = base::ByteBlock::splat('\\');
  const base::ByteBlock below_space = base::ByteBlock::splat(0x1F);
  for (size_t i = 0; i < 64; i += base::ByteBlock::kSize) {
    const base::ByteBlock v = base::ByteBlock::load(p + i);
    m.quote |= uint64_t{(v == quote).mask()} << i;
    m.backslash |= uint64_t{(v == backslash).mask()} << i;
    m.control |= uint64_t{v.at_most(below_space).mask()} << i;
  }
#else
  for (size_t i = 0; i < 64; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    m.quote |= uint64_t{c == '"'} << i;
    m.backslash |= uint64_t{c == '\\'} << i;
    m.control |= uint64_t{c < 0x20} << i;
  }
#endif
  return m;
}

// True when none of the 64 readable bytes at p is a quotation mark, a
// backslash or a control character: the common case inside long text,
// tested with as little work as possible.
inline bool plain_64(const char* p) {
#if ZR_HAS_BYTE_BLOCK
  const base::ByteBlock quote = base::ByteBlock::splat('"');
  const base::ByteBlock backslash = base::ByteBlock::splat('\\');
  const base::ByteBlock below_space = base::ByteBlock::splat(0x1F);
  base::ByteBlock stops = base::ByteBlock::splat(0);
  for (size_t i = 0; i < 64; i += base::ByteBlock::kSize) {
    const base::ByteBlock v = base::ByteBlock::load(p + i);
    stops = stops | (v == quote) | (v == backslash) | v.at_most(below_space);
  }
  return stops.mask() == 0;
#else
  (void)p;
  return false;
#endif
}

// The characters that backslashes escape, from a mask of backslashes: in a
// run of backslashes every second one escapes the character after it.
// `carry` says that the first character is escaped by the previous block's
// last backslash, and on return whether the next block's first one is.
inline uint64_t escaped_characters(uint64_t backslash, uint64_t& carry) {
  constexpr uint64_t kEvenBits = 0x5555555555555555ULL;
  if (backslash == 0) {
    const uint64_t escaped = carry;
    carry = 0;
    return escaped;
  }
  backslash &= ~carry;
  const uint64_t follows_backslash = backslash << 1 | carry;
  const uint64_t odd_run_starts = backslash & ~kEvenBits & ~follows_backslash;
  uint64_t even_run_sums;
  carry = __builtin_add_overflow(odd_run_starts, backslash, &even_run_sums) ? 1 : 0;
  return (kEvenBits ^ (even_run_sums << 1)) & follows_backslash;
}

// Scans the body of a string literal from p (just after its opening
// quotation mark) to its closing quotation mark, which it returns; nullptr
// when the literal is unterminated or holds a control character. Sets
// `has_escape` when the body holds a backslash; the escapes themselves are
// checked when they are re-spelled, and UTF-8 was checked for the whole
// text up front. Reads 64 bytes at a time, so that neither escapes nor
// non-ASCII text slow it down.
const char* scan_string_body(const char* p, const char* end, bool& has_escape) {
  uint64_t carry = 0;
  for (;;) {
    const size_t left = static_cast<size_t>(end - p);
    if (left == 0) return nullptr;
    if (left >= 64 && carry == 0 && plain_64(p)) {
      p += 64;
      continue;
    }
    ByteMasks m;
    if (left >= 64) {
      m = masks_of_64(p);
    } else {
      char tail[64];
      std::memcpy(tail, p, left);
      std::memset(tail + left, ' ', 64 - left);
      m = masks_of_64(tail);
    }
    const uint64_t quotes = m.quote & ~escaped_characters(m.backslash, carry);
    // Only the bytes before the closing quotation mark belong to the body.
    const uint64_t body = quotes == 0 ? ~uint64_t{0} : (quotes & (0 - quotes)) - 1;
    if ((m.control & body) != 0) return nullptr;
    if ((m.backslash & body) != 0) has_escape = true;
    if (quotes != 0) return p + __builtin_ctzll(quotes);
    if (left <= 64) return nullptr;
    p += 64;
  }
}

// Matches the literal `word` at p; what follows it is checked by the caller.
inline bool take_literal(const char*& p, const char* end, std::string_view word) {
  if (static_cast<size_t>(end - p) < word.size() || std::memcmp(p, word.data(), word.size()) != 0) return false;
  p += word.size();
  return true;
}

// Byte order of two keys, as std::string_view compares them. Keys are
// short: a loop beats a call to memcmp.
inline int compare_keys(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The bytes a number's text is made of: 1 for digits and signs, 2 for the
// point and the exponent's letter, which only a float has.
constexpr std::array<uint8_t, 256> kNumberByte = [] {
  std::array<uint8_t, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = 1;
  table['-'] = table['+'] = 1;
  table['.'] = table['e'] = table['E'] = 2;
  return table;
}();

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
  // The general parser checks the whole text with the same validator.
  if (!simdjson::validate_utf8(text.data(), text.size())) return false;
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
    out_->append(p, static_cast<size_t>(key_end + 1 - p));  // the key as written, quotation marks included
    out_->push_back(':');
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
  const char* open = p;
  p = close + 1;
  if (has_escape) {
    return append_string_from_escaped(*out_, std::string_view(open + 1, static_cast<size_t>(close - open - 1)));
  }
  // Checked above: the body holds nothing that needs an escape, so the
  // literal is written as it stands.
  out_->append(open, static_cast<size_t>(p - open));
  return true;
}

// The number's text is handed to the writer's readers together with the
// whitespace after it, just as the general parser hands them its tokens, so
// both routes write the same text for it.
bool FastCanonicalizer::ReadNumber(const char*& p) {
  const char* start = p;
  uint8_t seen = 0;
  for (uint8_t kind; p < end_ && (kind = kNumberByte[static_cast<unsigned char>(*p)]) != 0; ++p) seen |= kind;
  const bool integer = (seen & 2) == 0;  // no point and no exponent: only the integer writer can take it
  const std::string_view token(start, static_cast<size_t>(p - start));
  skip_whitespace(p, end_);
  const std::string_view spelled(start, static_cast<size_t>(p - start));
  if (integer ? append_integer_text(*out_, spelled) : append_float_text(*out_, spelled)) return true;
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
  bool in_order = true;
  for (size_t i = first + 1; i < members_.size(); ++i) {
    if (compare_keys(members_[i - 1].key, members_[i].key) >= 0) {
      in_order = false;
      break;
    }
  }
  if (in_order) return true;

  // Where the object's text starts: at its first member in text order.
  const size_t region_begin = members_[first].begin;
  const auto by_key = [](const MemberSpan& a, const MemberSpan& b) { return compare_keys(a.key, b.key) < 0; };
  std::sort(members_.begin() + static_cast<std::ptrdiff_t>(first), members_.end(), by_key);
  for (size_t i = first + 1; i < members_.size(); ++i) {
    if (compare_keys(members_[i - 1].key, members_[i].key) == 0) return false;
  }

  std::string& out = *out_;
  scratch_.clear();
  scratch_.reserve(out.size() + 1);
  if (outermost) scratch_.append(out, 0, region_begin);
  for (size_t i = first; i < members_.size(); ++i) {
    if (i > first) scratch_.push_back(',');
    scratch_.append(out, members_[i].begin, members_[i].end - members_[i].begin);
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
