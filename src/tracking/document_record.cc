#include "tracking/document_record.h"

#include "json/write.h"

namespace zr::tracking {

std::string document_line(std::string_view line_hash, std::string_view file,
                          const std::vector<std::string>& sources, std::string_view source_type) {
  std::string line;
  line.reserve(64 + line_hash.size() + file.size() + source_type.size() + sources.size() * 68);
  line.append("{\"file\":");
  json::append_string(line, file);
  line.append(",\"line_hash\":");
  json::append_string(line, line_hash);
  line.append(",\"revoked\":false,\"source_type\":");
  json::append_string(line, source_type);
  line.append(",\"sources\":");
  json::append_string_array(line, sources);
  line.append("}\n");
  return line;
}

namespace {

constexpr std::string_view kLineHash = "line_hash";
constexpr std::string_view kFile = "file";
constexpr std::string_view kSources = "sources";

// Checks the three members; fills `out` when it is given.
bool read_members(const json::Value* line_hash, const json::Value* file, const json::Value* sources,
                  DocumentRecord* out) {
  if (line_hash == nullptr || file == nullptr || sources == nullptr) return false;
  if (!line_hash->is_string() || !file->is_string() || !sources->is_array()) return false;
  for (const json::Value& source : sources->as_array()) {
    if (!source.is_string()) return false;
  }
  if (out != nullptr) {
    out->line_hash = line_hash->as_string();
    out->file = file->as_string();
    out->sources.clear();
    out->sources.reserve(sources->as_array().size());
    for (const json::Value& source : sources->as_array()) out->sources.push_back(source.as_string());
  }
  return true;
}

bool read_record(const json::Value& value, RepeatedMembers repeated, DocumentRecord* out) {
  if (value.is_array()) {
    const json::Array& items = value.as_array();
    return items.size() == 3 && read_members(&items[0], &items[1], &items[2], out);
  }
  if (!value.is_object()) return false;
  if (repeated == RepeatedMembers::kRefuse) {
    for (std::string_view own : {kLineHash, kFile, kSources}) {
      if (value.key_repeated(own)) return false;
    }
  }
  return read_members(value.find(kLineHash), value.find(kFile), value.find(kSources), out);
}

}  // namespace

std::optional<DocumentRecord> document_record_from_value(const json::Value& value, RepeatedMembers repeated) {
  DocumentRecord record;
  if (!read_record(value, repeated, &record)) return std::nullopt;
  return record;
}

bool is_document_value(const json::Value& value) {
  return read_record(value, RepeatedMembers::kLastWins, nullptr);
}

std::optional<DocumentRecord> parse_document_line(json::Parser& parser, std::string_view line,
                                                  size_t readable_after) {
  json::Value value;
  if (!parser.ParseInto(line, readable_after, value)) return std::nullopt;
  return document_record_from_value(value, RepeatedMembers::kRefuse);
}

json::Value document_record_value(const DocumentRecord& record) {
  json::Array sources;
  sources.reserve(record.sources.size());
  for (const std::string& source : record.sources) sources.push_back(json::Value::String(source));
  return json::Value::MakeObject(json::make_object({
      {std::string(kFile), json::Value::String(record.file)},
      {std::string(kLineHash), json::Value::String(record.line_hash)},
      {std::string(kSources), json::Value::MakeArray(std::move(sources))},
  }));
}

}  // namespace zr::tracking
