// Token-index entries: per tracked line and tokenizer, how many tokens the
// line had and which sources it is attributed to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/parse.h"
#include "json/value.h"

namespace zr::token_index {

struct TokenIndexEntry {
  uint64_t token_count = 0;
  std::vector<std::string> sources;
  std::string tokenizer;
  bool revoked = false;

  bool operator==(const TokenIndexEntry&) const = default;
};

// The stored line: {"token_count":..,"sources":[..],"tokenizer":..,"revoked":..}
// in that member order, plus "\n".
std::string entry_line(const TokenIndexEntry& entry);

// The stored lines of one tokenizer, sources and revoked flag differ only in
// their count: the frame holds the rest once, for writers of many lines.
class EntryLineFrame {
 public:
  EntryLineFrame(const std::vector<std::string>& sources, std::string_view tokenizer, bool revoked);
  // Appends the stored line of an entry with `token_count`, "\n" included.
  void append_line(std::string& out, uint64_t token_count) const;
  // The size of the longest line, for writers that make room once.
  size_t max_line_size() const { return kHead.size() + kMaxCountDigits + tail_.size(); }

  // Up to the count.
  static constexpr std::string_view kHead = "{\"token_count\":";

 private:
  static constexpr size_t kMaxCountDigits = 20;  // 2^64-1

  std::string tail_;  // after the count
};

// The same entry as the generic compact writer would give its JSON object:
// {"revoked":..,"sources":[..],"token_count":..,"tokenizer":..} plus "\n".
std::string entry_line_sorted(const TokenIndexEntry& entry);

// Reads an entry from a parsed value: an object with all four members (any
// order, none repeated, others ignored) or an array of exactly the four
// values in member order. nullopt for anything else.
std::optional<TokenIndexEntry> entry_from_value(const json::Value& value);

// Parses one stored line (without its "\n") and reads it as an entry.
// `readable_after` is as for json::Parser::ParseInto.
std::optional<TokenIndexEntry> parse_entry_line(json::Parser& parser, std::string_view line,
                                                size_t readable_after = 0);

}  // namespace zr::token_index
