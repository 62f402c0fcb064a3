// JSON Lines files: one compact JSON text plus "\n" per line.
//
// Readers map the file and parse each line in place. They are lenient: a
// missing file is empty, "\r\n" line ends are accepted, and blank or
// unparseable lines are skipped one by one.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "json/value.h"

namespace zr::store {

// Calls fn(line, offset) for every non-empty piece of `text` between line
// feeds, with its byte offset. A "\r" before a line feed stays part of the
// line (binary indexes record line lengths that way).
template <typename Fn>
void for_each_raw_line(std::string_view text, Fn&& fn) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    if (end > pos) fn(text.substr(pos, end - pos), pos);
    pos = end + 1;
  }
}

// Calls `fn(line, readable_after)` for every line of `text` that is not
// empty once one trailing "\r" is dropped, in order. `readable_after` counts
// the bytes of `text` after the line, which a parser may read as padding.
template <typename Fn>
void for_each_line(std::string_view text, Fn&& fn) {
  for_each_raw_line(text, [&](std::string_view line, size_t offset) {
    if (line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) fn(line, text.size() - offset - line.size());
  });
}

// Every parseable line of the file at `path`, in file order.
base::Result<std::vector<json::Value>> jsonl_read(const std::string& path);

// Like jsonl_read, but only lines containing at least one of `needles` as a
// byte substring are parsed; the rest are skipped unparsed. Needles must be
// non-empty.
base::Result<std::vector<json::Value>> jsonl_read_filtered(const std::string& path,
                                                           const std::vector<std::string>& needles);

// Appends the compact text of `value` and "\n" with one write-all call; the
// file is created if missing, its directory never.
base::Status jsonl_append(const std::string& path, const json::Value& value);

// Appends one already-formed line (its "\n" included) the same way.
base::Status append_line(const std::string& path, std::string_view line);

}  // namespace zr::store
