// Messages for texts that fail to parse: what went wrong, at which line and
// column.
#include "json/parse.h"

namespace zr::json {

namespace {

struct TextPosition {
  size_t line = 1;
  size_t column = 1;
};

TextPosition position_of(std::string_view text, size_t offset) {
  TextPosition pos;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++pos.line;
      pos.column = 1;
    } else {
      ++pos.column;
    }
  }
  return pos;
}

std::string at_position(std::string_view what, std::string_view text, size_t offset) {
  TextPosition pos = position_of(text, offset);
  return std::string(what) + " at line " + std::to_string(pos.line) + " column " + std::to_string(pos.column);
}

bool is_word_char(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::string describe_parse_failure(std::string_view text) {
  // Locate the first fault that a scan outside string literals can see: a
  // bare word that is not a JSON literal (NaN, Infinity) or nesting that is
  // too deep. Anything subtler is reported at the start of the text.
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return at_position("recursion limit exceeded", text, i);
    } else if (c == ']' || c == '}') {
      --depth;
    } else if (is_word_char(c)) {
      size_t end = i;
      while (end < text.size() && is_word_char(text[end])) ++end;
      std::string_view word = text.substr(i, end - i);
      bool after_number = i > 0 && ((text[i - 1] >= '0' && text[i - 1] <= '9') || text[i - 1] == '.');
      if (word != "true" && word != "false" && word != "null" && !after_number) {
        return at_position("expected value", text, i);
      }
      i = end - 1;
    }
  }
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return at_position("EOF while parsing a value", text, text.size());
  return at_position("invalid JSON", text, first);
}

}  // namespace zr::json
