// A single-pass route to the compact text of the texts that line hashing
// meets most: objects and arrays of strings, numbers, booleans and null,
// nested moderately. It writes the compact text while it reads, with no
// tree and no separate structure pass, and leaves every other text (and
// every text it has any doubt about) to the general parser.
//
// It only ever accepts: a text it takes is one the general parser accepts
// too, with the same compact text, byte for byte. It declines, among
// others: a root that is not an object or array, keys that hold escapes or
// repeat, deep nesting, control characters or malformed UTF-8 in strings,
// escapes the writer cannot re-spell, and anything that is not JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/isa.h"

namespace zr::json {
ZR_ISA_BEGIN

class FastCanonicalizer {
 public:
  // Replaces `out` with the compact text of `text` and returns true, or
  // returns false (leaving `out` unspecified) when the text is not one this
  // route takes. Buffers are reused across texts; not thread-safe.
  bool Run(std::string_view text, std::string& out);

 private:
  struct MemberSpan {
    std::string_view key;  // raw key text: it holds no escape
    size_t begin;          // where the member's text starts in the output
    size_t end;            // one past its last byte
  };

  bool ReadValue(const char*& p, int depth);
  bool ReadObject(const char*& p, int depth);
  bool ReadArray(const char*& p, int depth);
  bool ReadString(const char*& p);
  bool ReadNumber(const char*& p);
  bool SortMembers(size_t first, bool outermost);

  const char* end_ = nullptr;
  std::string* out_ = nullptr;
  std::string scratch_;
  std::vector<MemberSpan> members_;
};

ZR_ISA_END
}  // namespace zr::json
