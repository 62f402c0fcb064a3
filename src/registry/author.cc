#include "registry/author.h"

#include "store/content_hash.h"
#include "json/write.h"

namespace zr::registry {

std::string author_id(std::string_view name, std::string_view email) {
  std::string text;
  text.reserve(32 + name.size() + email.size());
  text.append("{\"email\":");
  json::append_string(text, email);
  text.append(",\"name\":");
  json::append_string(text, name);
  text.push_back('}');
  return store::sha256_hex(text);
}

namespace {

void append_author(std::string& out, const Author& author) {
  out.append("{\"id\":");
  json::append_string(out, author.id);
  out.append(",\"name\":");
  json::append_string(out, author.name);
  out.append(",\"email\":");
  json::append_string(out, author.email);
  out.append(",\"revoked\":");
  json::append_bool(out, author.revoked);
  out.push_back('}');
}

}  // namespace

std::string author_json(const Author& author) {
  std::string out;
  out.reserve(128 + author.name.size() + author.email.size());
  append_author(out, author);
  return out;
}

std::string author_line(const Author& author) {
  std::string out;
  out.reserve(128 + author.name.size() + author.email.size());
  append_author(out, author);
  out.push_back('\n');
  return out;
}

std::optional<Author> author_from_value(const json::Value& value) {
  if (!value.is_object()) return std::nullopt;
  for (std::string_view own : {"id", "name", "email", "revoked"}) {
    if (value.key_repeated(own)) return std::nullopt;
  }
  const json::Value* id = value.find("id");
  const json::Value* name = value.find("name");
  const json::Value* email = value.find("email");
  const json::Value* revoked = value.find("revoked");
  if (!id || !name || !email || !id->is_string() || !name->is_string() || !email->is_string()) return std::nullopt;
  if (revoked && !revoked->is_bool()) return std::nullopt;
  return Author{id->as_string(), name->as_string(), email->as_string(), revoked && revoked->as_bool()};
}

std::optional<Author> parse_author_line(json::Parser& parser, std::string_view line, size_t readable_after) {
  json::Value value;
  if (!parser.ParseInto(line, readable_after, value)) return std::nullopt;
  return author_from_value(value);
}

}  // namespace zr::registry
