// The text of the small notes a purge and a restore leave beside an archive:
// decimal numbers, each followed by a blank and the last by "\n", then a path
// up to the end of the file. A note is written whole or found cut short after
// a crash, so its reader takes a number only when its separator follows.
#pragma once

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zr::purge {

// Appends `numbers` in decimal, separated by blanks and ended by "\n".
inline void append_note_numbers(std::string& text, std::initializer_list<int64_t> numbers) {
  bool first = true;
  for (int64_t n : numbers) {
    if (!first) text.push_back(' ');
    first = false;
    text.append(std::to_string(n));
  }
  text.push_back('\n');
}

// Reads the decimal number at the start of `text` and the `separator` after
// it, and drops both from `text`; false (and `text` unchanged) otherwise.
template <typename Int>
bool take_note_number(std::string_view& text, char separator, Int& out) {
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, out);
  if (ec != std::errc() || stop == end || *stop != separator) return false;
  text.remove_prefix(static_cast<size_t>(stop - text.data()) + 1);
  return true;
}

}  // namespace zr::purge
