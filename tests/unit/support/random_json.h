// The random JSON texts and the damage the parser, scanner and reader tests
// feed their code: one generator, so that every test draws from the same
// spellings (spacing, key order, escapes, number forms) and the same kinds of
// damage, and a rarity added here reaches them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace zr::test {

// Bytes that steer scanners and parsers: structure, blanks, escapes, control
// characters, UTF-8 lead and continuation bytes, invalid UTF-8, and the
// letters of numbers and literals.
inline constexpr std::string_view kSharpBytes(
    "\"\\{}[],: \t\n\r\x01\x1f\x7f\x80\xbf\xc3\xa9\xe2\xed\xa0\xf0\x9f\xf4\x90\xff"
    "0-.eE+nu/tx");

// What the texts look like; the defaults are the shapes data lines have.
struct JsonShape {
  // Containers nest this deep at most; deeper values are scalars.
  int max_depth = 4;
  // The whole text is any value, not only an object (or now and then an
  // array), as data lines are.
  bool any_top_value = false;
  // Escapes (now and then) and numbers (one in five) spelled so that no
  // reader may accept the text.
  bool invalid_spellings = false;
  // Half the numbers are floats spelled as writers spell them (shortest,
  // fixed precision, exponents, padding zeros) rather than picked from a
  // list of edge cases.
  bool written_floats = false;
};

class RandomJson {
 public:
  explicit RandomJson(uint32_t seed, JsonShape shape = {}) : shape_(shape), rng_(seed) {}

  // A number below `n`.
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  std::mt19937& engine() { return rng_; }

  // A whole text, blanks around it.
  std::string text();
  std::string value(int depth);
  std::string string_literal();
  std::string number();
  // Nothing, or a run of blanks (sometimes a CRLF).
  std::string blank();

  char sharp_byte() { return kSharpBytes[pick(kSharpBytes.size())]; }

  // One edit at a random place: a byte overwritten or inserted (from
  // `bytes`), one to three erased, a run repeated, or the end cut off.
  void damage(std::string& s, std::string_view bytes = kSharpBytes);
  // `s` after `edits` damages.
  std::string damaged(std::string s, size_t edits = 1, std::string_view bytes = kSharpBytes) {
    while (edits-- > 0) damage(s, bytes);
    return s;
  }

 private:
  std::string object(int depth);
  std::string array(int depth);
  std::string written_float();

  JsonShape shape_;
  std::mt19937 rng_;
};

}  // namespace zr::test
