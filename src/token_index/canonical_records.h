// The compact text, members sorted by name, of the records of a per-process
// token file: what the merge writes into a chunk file.
//
// Nearly every line of such a file is an entry exactly as the tracking
// process wrote it. Its sorted form holds the same four member texts in
// another order, so it is copied together from them instead of being parsed
// into a value and written out again. Any other line goes through the
// parser's tree-free canonicaliser, which writes what the generic compact
// writer would for its value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/parse.h"

namespace zr::token_index {

// When `line` is an entry in the written form
//   {"token_count":N,"sources":["..",..],"tokenizer":"..","revoked":B}
// (nothing else: no whitespace, no escape, no further member, N plain
// digits that fit 64 bits, B true or false), appends
//   {"revoked":B,"sources":[..],"token_count":N,"tokenizer":".."}
// and returns true. Otherwise appends nothing and returns false.
bool append_sorted_written_entry(std::string& out, std::string_view line);

// Reusable across files; not thread-safe.
class RecordCanonicalizer {
 public:
  // Appends to `out` the compact text of every line of `text` that is one
  // JSON value, each followed by "\n", in file order; lines are split as
  // the JSON Lines reader splits them and unparseable ones are dropped.
  // Returns the number of records appended.
  uint64_t AppendRecords(std::string_view text, std::string& out);

 private:
  json::Parser parser_;
  std::string scratch_;
};

}  // namespace zr::token_index
