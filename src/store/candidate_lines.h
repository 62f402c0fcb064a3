// Finding, without parsing, the lines of a JSON Lines text that may hold a
// given string value.
//
// A line can hold a JSON string equal to S only if it contains S's compact
// text (quotes included) or spells some string with an escape: a line without
// any backslash has every string written raw, so a member equal to S appears
// there exactly as S's compact text. Lines with neither are passed over by a
// single vectorised pass over the whole text, with no per-line work; the
// candidates still have to be parsed and compared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/isa.h"

namespace zr::store {

class CandidateLines {
 public:
  // `value` is the string sought (raw, not escaped).
  CandidateLines(std::string_view text, std::string_view value);

  // The next candidate line (non-empty, one trailing "\r" dropped), in text
  // order, and how many bytes of the text follow it; false when none is left.
  bool Next(std::string_view& line, size_t& readable_after);

  // The compact text searched for, quotes included.
  const std::string& needle() const { return needle_; }

 private:
  std::string_view text_;
  std::string needle_;
  size_t pos_ = 0;  // start of the first line not yet examined
};

// The first position at or after `from` where `text` holds `needle` (at
// least two bytes) or a backslash; npos when neither occurs.
ZR_ISA_BEGIN
size_t find_needle_or_escape(std::string_view text, size_t from, std::string_view needle);
ZR_ISA_END

}  // namespace zr::store
