#include "store/flat_object.h"

#include <simdjson.h>

#include <cstring>

namespace zr::store {

namespace {

// Bytes with the high bit set where a byte of the word is zero.
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
inline uint64_t zero_bytes(uint64_t x) { return (x - kOnes) & ~x & kHighs; }

// True when none of the 8 bytes at `p` ends a plain string run: no quotation
// mark, backslash, control character or non-ASCII byte.
inline bool plain_word(const unsigned char* p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  const uint64_t stop = zero_bytes(x ^ (kOnes * '"')) | zero_bytes(x ^ (kOnes * '\\')) |
                        ((x - kOnes * 0x20) & ~x & kHighs) | (x & kHighs);
  return stop == 0;
}

class FlatScanner {
 public:
  // Only a scanner asked to judge the key order compares keys with each
  // other: the plain scans read millions of lines and need no verdict.
  FlatScanner(std::string_view line, int max_integer_digits, bool judge_key_order = false)
      : p_(reinterpret_cast<const unsigned char*>(line.data())),
        end_(p_ + line.size()),
        max_integer_digits_(max_integer_digits),
        judge_key_order_(judge_key_order) {}

  // Whether the text scanned so far is as the compact writer writes it.
  bool canonical() const { return canonical_; }

  bool Scan(std::span<const std::string_view> keys, std::span<FlatField> fields) {
    for (FlatField& field : fields) field = FlatField();
    std::string_view previous_key;
    bool first_key = true;
    SkipSpace();
    if (!Consume('{')) return false;
    SkipSpace();
    if (Consume('}')) return AtEndAfterSpace();
    for (;;) {
      std::string_view key;
      if (!Consume('"') || !String(key)) return false;
      // The writer sorts members by key bytes and keeps one per key.
      if (judge_key_order_ && !first_key && !(previous_key < key)) canonical_ = false;
      previous_key = key;
      first_key = false;
      SkipSpace();
      if (!Consume(':')) return false;
      SkipSpace();
      FlatField value;
      if (!Value(value)) return false;
      for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key) {
          value.count = fields[i].count + 1;
          fields[i] = value;
          break;
        }
      }
      SkipSpace();
      if (Consume('}')) return AtEndAfterSpace();
      if (!Consume(',')) return false;
      SkipSpace();
    }
  }

 private:
  static bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  void SkipSpace() {
    const unsigned char* start = p_;
    while (p_ < end_ && IsSpace(*p_)) ++p_;
    if (p_ != start) canonical_ = false;
  }

  bool Consume(unsigned char c) {
    if (p_ < end_ && *p_ == c) {
      ++p_;
      return true;
    }
    return false;
  }

  bool ConsumeWord(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size()) return false;
    if (std::string_view(reinterpret_cast<const char*>(p_), word.size()) != word) return false;
    p_ += word.size();
    return true;
  }

  bool AtEndAfterSpace() {
    SkipSpace();
    return p_ == end_;
  }

  // The rest of a string after its opening quotation mark. Escapes are left
  // to the full parser; so are control characters, which JSON forbids raw.
  bool String(std::string_view& out) {
    const unsigned char* begin = p_;
    bool non_ascii = false;
    // Most of a string is plain ASCII: skip it a word at a time.
    while (end_ - p_ >= 8 && plain_word(p_)) p_ += 8;
    for (; p_ < end_; ++p_) {
      const unsigned char c = *p_;
      if (c == '"') {
        out = std::string_view(reinterpret_cast<const char*>(begin), static_cast<size_t>(p_ - begin));
        ++p_;
        return !non_ascii || simdjson::validate_utf8(out.data(), out.size());
      }
      if (c == '\\' || c < 0x20) return false;
      non_ascii |= c >= 0x80;
    }
    return false;
  }

  bool Value(FlatField& value) {
    if (p_ == end_) return false;
    const unsigned char* begin = p_;
    bool ok = false;
    switch (*p_) {
      case '"':
        ++p_;
        value.kind = FlatKind::kString;
        return String(value.text);
      case '[':
        ++p_;
        value.kind = FlatKind::kStringArray;
        return StringArray(value.text);
      case 't':
        ok = ConsumeWord("true");
        break;
      case 'f':
        ok = ConsumeWord("false");
        break;
      case 'n':
        ok = ConsumeWord("null");
        break;
      default:
        ok = SmallInteger();
    }
    value.kind = FlatKind::kOther;
    value.text = std::string_view(reinterpret_cast<const char*>(begin), static_cast<size_t>(p_ - begin));
    return ok;
  }

  // The rest of an array after "[", when all its elements are strings.
  bool StringArray(std::string_view& out) {
    const unsigned char* begin = p_;
    SkipSpace();
    if (!Consume(']')) {
      for (;;) {
        std::string_view item;
        if (!Consume('"') || !String(item)) return false;
        SkipSpace();
        if (Consume(']')) break;
        if (!Consume(',')) return false;
        SkipSpace();
      }
    }
    out = std::string_view(reinterpret_cast<const char*>(begin), static_cast<size_t>(p_ - 1 - begin));
    return true;
  }

  // An integer of at most max_integer_digits_ digits, which the reader
  // holds exactly; longer numbers, fractions and exponents go to the full
  // parser.
  bool SmallInteger() {
    const bool negative = Consume('-');
    if (Consume('0')) {
      if (negative) canonical_ = false;  // the integer 0, written "0"
      return true;  // a digit after it fails the caller's next check
    }
    int digits = 0;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9' && digits < max_integer_digits_) {
      ++p_;
      ++digits;
    }
    return digits > 0;
  }

  const unsigned char* p_;
  const unsigned char* end_;
  const int max_integer_digits_;
  const bool judge_key_order_;
  bool canonical_ = true;
};

}  // namespace

bool scan_flat_object(std::string_view line, std::span<const std::string_view> keys, std::span<FlatField> fields,
                      int max_integer_digits) {
  return FlatScanner(line, max_integer_digits).Scan(keys, fields);
}

bool scan_flat_object_canonical(std::string_view line, std::span<const std::string_view> keys,
                                std::span<FlatField> fields, bool& canonical) {
  FlatScanner scanner(line, kFlatIntegerDigits, /*judge_key_order=*/true);
  const bool accepted = scanner.Scan(keys, fields);
  canonical = accepted && scanner.canonical();
  return accepted;
}

}  // namespace zr::store
