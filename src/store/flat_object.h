// Reading a few top-level members of a JSON Lines record without building a
// tree.
//
// Lines written by this system (layer records, token-index entries) are flat objects: string, boolean,
// null and small integer members, and arrays of strings, with no escapes.
// Scanning such a line once, byte by byte, is several times cheaper than a
// full parse, and it is all the index build and the layer scans need. Any
// line outside that simple form (an escape, a nested object, a float, a
// top-level array, anything doubtful) is declined, and the caller parses it
// with the full JSON parser. The accepted form is a strict subset of JSON,
// checked completely (UTF-8 included), so a line accepted here is a line the
// full parser accepts, with the same member values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zr::store {

enum class FlatKind : uint8_t { kAbsent, kString, kStringArray, kOther };

// One wanted member of a scanned line.
struct FlatField {
  FlatKind kind = FlatKind::kAbsent;
  // How often the key occurs at the top level; the values below are those of
  // its last occurrence, as a parsed object keeps it.
  uint32_t count = 0;
  // kString: the string's value (it holds no escape, so the text is the
  // value). kStringArray: the text between the brackets. kOther: the
  // literal or integer as written.
  std::string_view text;
};

// Integers of more digits are left to the full parser. Eighteen digits fit
// every reader's integer types, signed or not; a reader that only wants
// unsigned values may take nineteen.
inline constexpr int kFlatIntegerDigits = 18;

// Scans `line` as one flat JSON object and fills `fields[i]` with the member
// named `keys[i]`. Returns false when the line is not of the simple form;
// `fields` are then meaningless and the line needs the full parser.
bool scan_flat_object(std::string_view line, std::span<const std::string_view> keys, std::span<FlatField> fields,
                      int max_integer_digits = kFlatIntegerDigits);

// scan_flat_object (at most kFlatIntegerDigits digits per integer), which
// also tells whether an accepted line is already, byte for byte, the compact
// text the writer gives its parsed object: no whitespace, keys strictly
// ascending (so none repeated), no "-0" (the integer 0, written "0"). Such a
// line can be copied as it is instead of being parsed and written again.
bool scan_flat_object_canonical(std::string_view line, std::span<const std::string_view> keys,
                                std::span<FlatField> fields, bool& canonical);

// Calls fn(element) for each string of an array field, in order.
template <typename Fn>
void for_each_flat_string(std::string_view array_text, Fn&& fn) {
  size_t pos = 0;
  while ((pos = array_text.find('"', pos)) != std::string_view::npos) {
    const size_t end = array_text.find('"', pos + 1);
    fn(array_text.substr(pos + 1, end - pos - 1));
    pos = end + 1;
  }
}

}  // namespace zr::store
