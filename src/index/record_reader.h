// Reading chosen top-level members of JSON Lines records the way a parsed
// JSON value presents them: the last occurrence of a repeated key wins, and
// a line that is not valid JSON is no record.
//
// Lines of the simple flat form are read straight from their text; any other
// line is parsed whole. Both routes give the same answer.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "store/flat_object.h"
#include "json/parse.h"
#include "json/value.h"

namespace zr::index {

enum class MemberKind { kAbsent, kString, kArray, kOther };

struct MemberView {
  MemberKind kind = MemberKind::kAbsent;
  std::string_view text;                  // kString: the value
  std::vector<std::string_view> strings;  // kArray: its string elements, in order (others left out)
};

// Not thread-safe: one per thread. The views it hands out live until the
// next Read and point into the line or into the reader.
class RecordReader {
 public:
  explicit RecordReader(std::initializer_list<std::string_view> keys);

  // Reads one line; false when it is not a JSON object. `readable_after` is
  // as for json::Parser::ParseInto.
  bool Read(std::string_view line, size_t readable_after);

  const MemberView& member(size_t i) const { return members_[i]; }

 private:
  bool ReadParsed(std::string_view line, size_t readable_after);

  std::vector<std::string_view> keys_;
  std::vector<store::FlatField> flat_;
  std::vector<MemberView> members_;
  json::Parser parser_;
  json::Value value_;
};

}  // namespace zr::index
