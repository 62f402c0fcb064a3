#include "store/candidate_lines.h"

#include <string.h>

#include "json/write.h"

namespace zr::store {

namespace {
constexpr size_t kNone = std::string_view::npos;
}  // namespace

CandidateLines::CandidateLines(std::string_view text, std::string_view value) : text_(text) {
  json::append_string(needle_, value);
}

bool CandidateLines::Next(std::string_view& line, size_t& readable_after) {
  while (pos_ < text_.size()) {
    size_t hit = find_needle_or_escape(text_, pos_, needle_);
    if (hit == kNone) {
      pos_ = text_.size();
      return false;
    }
    // The line around the hit: pos_ always starts a line, so the line's
    // start lies within [pos_, hit].
    const char* base = text_.data();
    const void* nl_before = ::memrchr(base + pos_, '\n', hit - pos_);
    size_t start = nl_before ? static_cast<size_t>(static_cast<const char*>(nl_before) - base) + 1 : pos_;
    size_t end = text_.find('\n', hit);
    if (end == kNone) end = text_.size();
    pos_ = end + 1;
    size_t line_end = end;
    if (line_end > start && text_[line_end - 1] == '\r') --line_end;
    if (line_end == start) continue;
    line = text_.substr(start, line_end - start);
    readable_after = text_.size() - line_end;
    return true;
  }
  return false;
}

}  // namespace zr::store
