// Parsing JSON text into the system's JSON value, and straight into its
// compact text (the hot path of line hashing, which needs no tree).
//
// Numbers: a non-negative integer that fits 64 bits is unsigned, a negative
// one that fits is signed, anything else is a 64-bit float (an integer
// literal too large for 64 bits included). "-0" is the integer 0, while
// "-0.0" and "-0e0" are the float -0.0. A number whose magnitude overflows a
// float makes the text invalid, as do invalid UTF-8, unescaped control
// characters in strings, lone surrogate escapes and containers nested deeper
// than kMaxNesting.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/isa.h"
#include "base/status.h"
#include "json/value.h"

namespace zr::json {

// Deepest nesting of arrays and objects accepted; deeper text is refused so
// that recursion stays bounded.
inline constexpr int kMaxNesting = 127;

// What a Parser does (below). Parser is built once per instruction set
// (base/isa.h): the Parser the rest of the code uses holds the chosen copy's
// Parser and calls it through this interface.
class ParserBase {
 public:
  virtual ~ParserBase();
  virtual base::Result<Value> Parse(std::string_view text) = 0;
  virtual bool ParseInto(std::string_view text, size_t readable_after, Value& out) = 0;
  virtual bool Canonicalize(std::string_view text, size_t readable_after, std::string& out) = 0;
  virtual bool CanonicalizeFast(std::string_view text, std::string& out) = 0;
  virtual bool CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) = 0;
};

ZR_ISA_BEGIN

// Bytes that must be readable after a text for it to be parsed in place.
size_t required_padding();

// Reusable parser: buffers grow to the largest text seen and are reused, so
// parsing many lines allocates nothing once warm (except the Value trees
// themselves). Not thread-safe; use one per thread.
class Parser final : public ParserBase {
 public:
  Parser();
  ~Parser() override;
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Parses one JSON value (whitespace may surround it). The error message
  // names the line and column of the fault.
  base::Result<Value> Parse(std::string_view text) override;

  // Parses `text` into `out`; false when it is not exactly one JSON value.
  // `readable_after` is how many bytes after the text may be read (the rest
  // of a mapped file, say); when it is at least required_padding() the text
  // is parsed in place, otherwise it is copied first.
  bool ParseInto(std::string_view text, size_t readable_after, Value& out) override;

  // Replaces `out` with the compact text of the value in `text`, without
  // building a tree; false when `text` is not exactly one JSON value. The
  // common shapes of data lines take a single-pass route
  // (json/fast_canonical.h); everything else, and every text that
  // route declines, takes the general one. Both give the same answer.
  bool Canonicalize(std::string_view text, size_t readable_after, std::string& out) override;

  // The two routes of Canonicalize on their own, so that they can be
  // compared. CanonicalizeFast returns false for every text it declines,
  // valid or not; CanonicalizeFull decides every text.
  bool CanonicalizeFast(std::string_view text, std::string& out) override;
  bool CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

ZR_ISA_END

// A message for a text that failed to parse, naming line and column.
std::string describe_parse_failure(std::string_view text);

}  // namespace zr::json
