// Reading entry lines without building a JSON tree.
//
// Token totals, forget sets, the binary index and store merges read every
// entry line of a tokenizer, millions per call; building a JSON tree for
// each costs several times more than finding the four members. Lines of the
// flat form the layer readers scan (see store/flat_object.h), with each of
// the four members once, are read here in one pass, as views into the line.
// Anything else is declined and must go to the full reader, so the result is
// always the full reader's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/flat_object.h"
#include "json/parse.h"
#include "token_index/token_index_entry.h"

namespace zr::token_index {

enum class FastRead { kEntry, kDeclined };

// An entry line of the plain form read in place: its members' values as
// texts of the line, which hold no escapes.
struct PlainEntryView {
  uint64_t token_count = 0;
  std::string_view sources;  // the text between the brackets (store::for_each_flat_string walks it)
  std::string_view tokenizer;
  bool revoked = false;
};

// A valid entry seen in place, whichever reader read it. Its strings point
// into the line (or into the parsed entry it describes), so it lives no
// longer than that.
struct EntryView {
  uint64_t token_count = 0;
  std::string_view tokenizer;
  bool revoked = false;
  // Plain lines: the text between the brackets of the sources array. Null
  // `parsed_sources` then.
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

EntryView view_of(const PlainEntryView& plain);
EntryView view_of(const TokenIndexEntry& entry);

// Reads `line` into `out` without copying when it is in the plain form;
// kDeclined otherwise (`out` is then unspecified).
FastRead read_plain_entry_view(std::string_view line, PlainEntryView& out);

// The same, as an entry of its own.
FastRead read_plain_entry(std::string_view line, TokenIndexEntry& out);

// Appends what entry_line writes for the entry that `view` reads.
void append_plain_entry_line(std::string& out, const PlainEntryView& view);

// read_plain_entry, falling back to parse_entry_line for other lines.
std::optional<TokenIndexEntry> read_entry_line(json::Parser& parser, std::string_view line, size_t readable_after);

}  // namespace zr::token_index
