// The Author record: who tracked lines and sections are attributed to.
//
// Stored line: {"id":..,"name":..,"email":..,"revoked":..} in that member
// order, plus "\n". The id is the content hash of {"email":..,"name":..}, so
// the same (name, e-mail) pair has the same id in every store.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/parse.h"
#include "json/value.h"

namespace zr::registry {

struct Author {
  std::string id;
  std::string name;
  std::string email;
  bool revoked = false;

  bool operator==(const Author&) const = default;
};

// The id of the pair: SHA-256 hex of {"email":<email>,"name":<name>}.
std::string author_id(std::string_view name, std::string_view email);

// The record's compact JSON text, without a line end.
std::string author_json(const Author& author);
// The stored line: author_json plus "\n".
std::string author_line(const Author& author);

// Reads a record from a parsed value: an object with string members `id`,
// `name`, `email` and an optional boolean `revoked` (absent = false), none of
// them repeated; other members are ignored. nullopt for anything else.
std::optional<Author> author_from_value(const json::Value& value);

// Parses one stored line (without its "\n") and reads it as a record.
// `readable_after` is as for json::Parser::ParseInto.
std::optional<Author> parse_author_line(json::Parser& parser, std::string_view line, size_t readable_after = 0);

}  // namespace zr::registry
