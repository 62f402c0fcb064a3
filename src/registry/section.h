// The Section record: a registered piece of content with its authors,
// contributors, licence and year.
//
// Stored line: {"section_hash":..,"path":..,"authors":[..],
// "contributors":[..],"license":..,"year":..} in that member order, plus
// "\n". The hash is the content hash of the five other fields as an object
// ({"authors":..,"contributors":..,"license":..,"path":..,"year":..}), so
// registering the same description twice gives the same hash; list order
// matters.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "json/parse.h"
#include "json/value.h"

namespace zr::registry {

struct Section {
  std::string section_hash;
  std::string path;
  std::vector<std::string> authors;  // author ids
  std::vector<std::string> contributors;
  std::string license;
  std::string year;

  bool operator==(const Section&) const = default;
};

// The section hash of the five fields.
std::string section_hash_of(std::string_view path, const std::vector<std::string>& authors,
                            const std::vector<std::string>& contributors, std::string_view license,
                            std::string_view year);

// The stored line, "\n" included.
std::string section_line(const Section& section);

// Reads a record from a parsed value: an object with all six members (none
// repeated; `section_hash`, `path`, `license` and `year` strings, `authors`
// and `contributors` arrays of strings); other members, such as the
// revocation mark, are ignored. nullopt for anything else.
std::optional<Section> section_from_value(const json::Value& value);

// Parses one stored line (without its "\n") and reads it as a record.
// `readable_after` is as for json::Parser::ParseInto.
std::optional<Section> parse_section_line(json::Parser& parser, std::string_view line, size_t readable_after = 0);

}  // namespace zr::registry
