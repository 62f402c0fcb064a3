// The compact JSON writer: the one written form of everything in the store.
//
// No whitespace; object members in the order held (ascending key bytes for a
// Value); minimal string escaping with raw UTF-8; integers in decimal; floats
// in their shortest round-trip digits, always with a fraction or an exponent;
// non-finite floats as null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/isa.h"
#include "json/value.h"

namespace zr::json {

ZR_ISA_BEGIN
// Appends `s` as a JSON string literal, quotes included.
void append_string(std::string& out, std::string_view s);
// Appends what append_string would write for the value of a JSON string
// literal whose body (the text between its quotation marks, which must be
// valid UTF-8 without unescaped control characters or quotation marks) is
// `escaped`, without unescaping it first. False, appending nothing, when an
// escape is invalid (an unknown letter, bad hex digits, a lone surrogate).
bool append_string_from_escaped(std::string& out, std::string_view escaped);
ZR_ISA_END
void append_unsigned(std::string& out, uint64_t u);
void append_signed(std::string& out, int64_t i);
void append_float(std::string& out, double d);
// When `text` is a JSON integer of at most 18 digits (whitespace may
// follow), which every reader holds exactly, appends what append_unsigned or
// append_signed would write for it and returns true. Otherwise appends
// nothing and returns false.
bool append_integer_text(std::string& out, std::string_view text);
// When `text` is a JSON number with a fraction or an exponent (whitespace
// may follow) whose value can be written from its own digits, appends what
// append_float would write for that value and returns true. Otherwise
// (anything else, or more digits than can be trusted) appends nothing and
// returns false.
bool append_float_text(std::string& out, std::string_view text);
void append_bool(std::string& out, bool b);
// Appends a JSON array of strings, in the order given.
void append_string_array(std::string& out, const std::vector<std::string>& items);

// Appends the compact text of `value`.
void append_compact(std::string& out, const Value& value);
std::string to_compact(const Value& value);

}  // namespace zr::json
