// A quick reader for entry lines in the compact form this system writes.
//
// An author's token total parses every line that may name one of the
// author's sections, thousands per call; building a JSON tree for each costs
// more than finding them. Lines of the flat form the layer readers scan
// (see store/flat_object.h), with each of the four members once, are read
// here in one pass. Anything else is declined and must go to the full
// reader, so the result is always the full reader's.
#pragma once

#include <optional>
#include <string_view>

#include "store/json_parse.h"
#include "token_index/token_index_entry.h"

namespace zr::token_index {

enum class FastRead { kEntry, kDeclined };

// Reads `line` into `out` when it is in the plain form; kDeclined otherwise
// (`out` is then unspecified).
FastRead read_plain_entry(std::string_view line, TokenIndexEntry& out);

// read_plain_entry, falling back to parse_entry_line for other lines.
std::optional<TokenIndexEntry> read_entry_line(json::Parser& parser, std::string_view line, size_t readable_after);

}  // namespace zr::token_index
