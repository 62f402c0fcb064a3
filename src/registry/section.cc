#include "registry/section.h"

#include "base/file.h"
#include "store/content_hash.h"
#include "json/write.h"
#include "store/jsonl.h"

namespace zr::registry {

namespace {

bool read_string_list(const json::Value* value, std::vector<std::string>& out) {
  if (!value || !value->is_array()) return false;
  out.clear();
  out.reserve(value->as_array().size());
  for (const json::Value& item : value->as_array()) {
    if (!item.is_string()) return false;
    out.push_back(item.as_string());
  }
  return true;
}

bool read_string(const json::Value* value, std::string& out) {
  if (!value || !value->is_string()) return false;
  out = value->as_string();
  return true;
}

}  // namespace

std::string section_hash_of(std::string_view path, const std::vector<std::string>& authors,
                            const std::vector<std::string>& contributors, std::string_view license,
                            std::string_view year) {
  std::string text;
  text.reserve(128 + path.size() + license.size() + 67 * authors.size());
  text.append("{\"authors\":");
  json::append_string_array(text, authors);
  text.append(",\"contributors\":");
  json::append_string_array(text, contributors);
  text.append(",\"license\":");
  json::append_string(text, license);
  text.append(",\"path\":");
  json::append_string(text, path);
  text.append(",\"year\":");
  json::append_string(text, year);
  text.push_back('}');
  return store::sha256_hex(text);
}

std::string section_line(const Section& section) {
  std::string line;
  line.reserve(192 + section.path.size() + section.license.size() + 67 * section.authors.size());
  line.append("{\"section_hash\":");
  json::append_string(line, section.section_hash);
  line.append(",\"path\":");
  json::append_string(line, section.path);
  line.append(",\"authors\":");
  json::append_string_array(line, section.authors);
  line.append(",\"contributors\":");
  json::append_string_array(line, section.contributors);
  line.append(",\"license\":");
  json::append_string(line, section.license);
  line.append(",\"year\":");
  json::append_string(line, section.year);
  line.append("}\n");
  return line;
}

std::optional<Section> section_from_value(const json::Value& value) {
  if (!value.is_object()) return std::nullopt;
  for (std::string_view own : {"section_hash", "path", "authors", "contributors", "license", "year"}) {
    if (value.key_repeated(own)) return std::nullopt;
  }
  Section section;
  if (!read_string(value.find("section_hash"), section.section_hash) || !read_string(value.find("path"), section.path) ||
      !read_string_list(value.find("authors"), section.authors) ||
      !read_string_list(value.find("contributors"), section.contributors) ||
      !read_string(value.find("license"), section.license) || !read_string(value.find("year"), section.year)) {
    return std::nullopt;
  }
  return section;
}

std::optional<Section> parse_section_line(json::Parser& parser, std::string_view line, size_t readable_after) {
  json::Value value;
  if (!parser.ParseInto(line, readable_after, value)) return std::nullopt;
  return section_from_value(value);
}

}  // namespace zr::registry
