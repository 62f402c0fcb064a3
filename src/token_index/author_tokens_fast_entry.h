// A quick reader for entry lines in the compact form this system writes.
//
// An author's token total parses every line that may name one of the
// author's sections, thousands per call; building a JSON tree for each costs
// more than finding them. Lines of the flat form the layer readers scan
// (see store/flat_object.h), with each of the four members once, are read
// here in one pass. Anything else is declined and must go to the full
// reader, so the result is always the full reader's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/json_parse.h"
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
