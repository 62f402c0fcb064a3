// Document-index lines and the typed record they are read back through.
//
// A stored line is the compact object
//   {"file":..,"line_hash":..,"revoked":false,"source_type":..,"sources":[..]}
// (members in key order, which is how the writer of generic objects would
// write it too). Readers only need `line_hash`, `file` and `sources`; every
// other member is ignored, so lines rewritten by revocation or written by
// other tools read the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/parse.h"
#include "json/value.h"

namespace zr::tracking {

struct DocumentRecord {
  std::string line_hash;
  std::string file;
  std::vector<std::string> sources;

  bool operator==(const DocumentRecord&) const = default;
};

// The stored line, "\n" included.
std::string document_line(std::string_view line_hash, std::string_view file,
                          const std::vector<std::string>& sources, std::string_view source_type);

// The stored lines of one file, sources and source type differ only in their
// hash: the frame holds the rest once, for writers of many lines.
class DocumentLineFrame {
 public:
  DocumentLineFrame(std::string_view file, const std::vector<std::string>& sources, std::string_view source_type);
  // Appends the stored line of `line_hash`, "\n" included.
  void append_line(std::string& out, std::string_view line_hash) const;
  // The same for a hash of hex digits, which need no escape, written at
  // `out` (room for hex_line_size() bytes); returns the end of the line.
  char* write_hex_line(char* out, std::string_view line_hash) const;
  // The size of a line whose hash is `hash_size` hex digits: the same for
  // every such line, so that a writer can lay many out before writing them.
  size_t hex_line_size(size_t hash_size) const { return head_.size() + hash_size + 2 + tail_.size(); }

 private:
  std::string head_;  // up to the hash
  std::string tail_;  // after the hash
};

// How a record treats a member of its own that the object repeats.
enum class RepeatedMembers {
  kRefuse,    // the record as written is ambiguous: unreadable
  kLastWins,  // generic reading, as a parsed JSON value keeps it
};

// Reads a record from a parsed line: an object with a string `line_hash`, a
// string `file` and an array of strings `sources` (other members ignored),
// or an array of exactly those three values in that order.
std::optional<DocumentRecord> document_record_from_value(const json::Value& value,
                                                         RepeatedMembers repeated = RepeatedMembers::kRefuse);

// True when `value` reads as a record with the last occurrence of a repeated
// member winning: the test for keeping a whole stored line.
bool is_document_value(const json::Value& value);

// Parses one stored line (without its "\n") and reads it as a record,
// refusing repeated own members. `readable_after` is as for
// json::Parser::ParseInto.
std::optional<DocumentRecord> parse_document_line(json::Parser& parser, std::string_view line,
                                                  size_t readable_after = 0);

// The record as a JSON object with the keys file, line_hash, sources.
json::Value document_record_value(const DocumentRecord& record);

}  // namespace zr::tracking
