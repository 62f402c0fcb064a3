#include "tracking/document_record.h"

#include <algorithm>

#include "json/write.h"

namespace zr::tracking {

DocumentLineFrame::DocumentLineFrame(std::string_view file, const std::vector<std::string>& sources,
                                     std::string_view source_type) {
  head_.reserve(32 + file.size());
  head_.append("{\"file\":");
  json::append_string(head_, file);
  head_.append(",\"line_hash\":");
  tail_.reserve(48 + source_type.size() + sources.size() * 68);
  tail_.append(",\"revoked\":false,\"source_type\":");
  json::append_string(tail_, source_type);
  tail_.append(",\"sources\":");
  json::append_string_array(tail_, sources);
  tail_.append("}\n");
}

void DocumentLineFrame::append_line(std::string& out, std::string_view line_hash) const {
  out.append(head_);
  json::append_string(out, line_hash);
  out.append(tail_);
}

char* DocumentLineFrame::write_hex_line(char* out, std::string_view line_hash) const {
  out = std::copy(head_.begin(), head_.end(), out);
  *out++ = '"';
  out = std::copy(line_hash.begin(), line_hash.end(), out);
  *out++ = '"';
  return std::copy(tail_.begin(), tail_.end(), out);
}

std::string document_line(std::string_view line_hash, std::string_view file,
                          const std::vector<std::string>& sources, std::string_view source_type) {
  std::string line;
  DocumentLineFrame frame(file, sources, source_type);
  line.reserve(frame.hex_line_size(line_hash.size()));
  frame.append_line(line, line_hash);
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
