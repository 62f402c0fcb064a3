// Finding, without parsing, the lines of a JSON Lines text that may hold one
// of a set of string values (candidate_lines.h does it for one value).
//
// A line without any backslash spells every string raw, and has no quotation
// mark outside its strings; so in such a line, if it is valid JSON, the runs
// between its 1st and 2nd, 3rd and 4th, ... quotation marks are exactly its
// strings, keys and values. A line is a candidate when it has a backslash or
// one of those runs is in the set; every other line is either not JSON or
// holds none of the values, and is passed over. One vectorised pass finds
// the quotation marks, backslashes and line feeds of a whole block of text;
// a run is looked up only when its length is that of some value.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/isa.h"
#include "base/string_set.h"
#include "base/view_set.h"

namespace zr::store {

class StringSetLines {
 public:
  static constexpr size_t kShortLengths = 256;

  // `values` (raw, not escaped) must outlive this object.
  explicit StringSetLines(const base::StringSet& values);

  // Calls fn(line, readable_after) for every candidate line of `text`: its
  // bytes between line feeds (one trailing "\r" dropped, empty lines
  // skipped, as store::for_each_line gives them), in text order, with the
  // number of bytes of `text` after it.
  template <typename Fn>
  void ForEachCandidate(std::string_view text, Fn&& fn) const;

 private:
  bool Wanted(std::string_view run) const;

  base::ViewSet<1> values_;
  std::bitset<kShortLengths> short_lengths_;  // lengths below kShortLengths that some value has
  bool has_long_ = false;                     // some value is longer
  std::vector<uint64_t> prefix_bits_;         // a bit per hash of (length, first bytes) of each value
};

ZR_ISA_BEGIN
// Writes the offsets, relative to `text`, of its quotation marks,
// backslashes and line feeds to `out`, ascending, and returns how many.
// `out` has room for text.size() offsets.
size_t find_line_structure(std::string_view text, uint32_t* out);
ZR_ISA_END

template <typename Fn>
void StringSetLines::ForEachCandidate(std::string_view text, Fn&& fn) const {
  constexpr size_t kWindow = size_t{1} << 16;
  thread_local std::vector<uint32_t> window_marks(kWindow);
  uint32_t* const marks = window_marks.data();  // looked up once: thread-local access is a call
  size_t line_start = 0;
  size_t open_quote = 0;
  bool in_quote = false;
  bool candidate = false;
  auto end_line = [&](size_t end) {
    size_t line_end = end;
    if (candidate && line_end > line_start && text[line_end - 1] == '\r') --line_end;
    if (candidate && line_end > line_start) {
      fn(text.substr(line_start, line_end - line_start), text.size() - line_end);
    }
    line_start = end + 1;
    in_quote = false;
    candidate = false;
  };
  for (size_t window = 0; window < text.size(); window += kWindow) {
    const std::string_view part = text.substr(window, kWindow);
    const size_t count = find_line_structure(part, marks);
    for (size_t k = 0; k < count; ++k) {
      const size_t at = window + marks[k];
      const char c = text[at];
      if (c == '\n') {
        end_line(at);
      } else if (candidate) {
        continue;  // the line is taken already: only its end matters
      } else if (c == '\\') {
        candidate = true;
      } else if (!in_quote) {
        in_quote = true;
        open_quote = at;
      } else {
        in_quote = false;
        candidate = Wanted(text.substr(open_quote + 1, at - open_quote - 1));
      }
    }
  }
  if (line_start < text.size()) end_line(text.size());
}

}  // namespace zr::store
