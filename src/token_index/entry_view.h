// Reading entry lines without building a JSON tree.
//
// Token totals, forget sets and the binary index read every entry line of a
// tokenizer, millions per call; building a JSON tree for each costs several
// times more than finding the four members. Lines of the flat form the layer
// readers scan (see store/flat_object.h), with each of the four members
// once, are read here in one pass, as views into the line. Anything else is
// declined and must go to the full reader, so the result is always the full
// reader's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/flat_object.h"
#include "store/json_parse.h"
#include "token_index/token_index_entry.h"

namespace zr::token_index {

enum class FastRead { kEntry, kDeclined };

// A valid entry seen in place. Its strings point into the line it was read
// from (or into the parsed entry it describes), so it lives no longer than
// that.
struct EntryView {
  uint64_t token_count = 0;
  std::string_view tokenizer;
  bool revoked = false;
  // Plain lines: the text between the brackets of the sources array, whose
  // strings hold no escapes. Null `parsed_sources` then.
  std::string_view plain_sources;
  // Lines the full reader read: their decoded sources.
  const std::vector<std::string>* parsed_sources = nullptr;

  // Calls fn(source) for every source string, in order, duplicates kept.
  template <typename Fn>
  void for_each_source(Fn&& fn) const {
    if (parsed_sources) {
      for (const std::string& source : *parsed_sources) fn(std::string_view(source));
    } else {
      store::for_each_flat_string(plain_sources, fn);
    }
  }
};

// The view of an entry held in memory.
EntryView view_of(const TokenIndexEntry& entry);

// Reads `line` into `out` when it is in the plain form, allocating nothing;
// kDeclined otherwise (`out` is then unspecified).
FastRead read_plain_entry_view(std::string_view line, EntryView& out);

// read_plain_entry_view, copied into an entry.
FastRead read_plain_entry(std::string_view line, TokenIndexEntry& out);

// Appends what entry_line writes for the entry that `view` reads from a
// plain line.
void append_plain_entry_line(std::string& out, const EntryView& view);

// read_plain_entry, falling back to parse_entry_line for other lines.
std::optional<TokenIndexEntry> read_entry_line(json::Parser& parser, std::string_view line, size_t readable_after);

}  // namespace zr::token_index
