// A second, deliberately plain JSON reader and compact writer, written from
// the rules alone, that the fuzz targets hold the real ones against.
//
// It shares no code with the store's parser or writer: a byte-at-a-time
// recursive descent, numbers converted by the C library's strtod, shortest
// float digits found by printing with rising precision. Only the Value type
// is shared, as the common currency of the comparison.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/value.h"

namespace zr::fuzz {

// The one JSON value of `text` (only space, tab, CR and LF around it), or
// nullopt when `text` is anything else. Integers that fit 64 bits are
// integers (negative ones signed; "-0" is 0), other numbers floats; only a
// float overflow makes a number invalid. Strings must be valid UTF-8 without
// raw control characters or lone surrogate escapes. At most 127 levels of
// arrays and objects. Objects keep the last of repeated keys, members sorted
// by key bytes, and list the repeated keys.
std::optional<json::Value> reference_parse(std::string_view text);

// The compact text of `value`: no whitespace, members in the order held,
// minimal escaping with raw UTF-8, integers in decimal, floats in their
// shortest round-trip digits (plain when the decimal exponent is from -5
// to 15, otherwise d[.ddd]e<exponent>), always with a point or exponent.
std::string reference_compact(const json::Value& value);

// Deep equality in which floats compare by their bits (so -0.0 differs from
// 0.0) and objects also compare their repeated keys.
bool same_value(const json::Value& a, const json::Value& b);

}  // namespace zr::fuzz
