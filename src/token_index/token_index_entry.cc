#include "token_index/token_index_entry.h"

#include "json/write.h"

namespace zr::token_index {

namespace {

// What follows the count in a stored line.
void append_tail(std::string& out, const std::vector<std::string>& sources, std::string_view tokenizer,
                 bool revoked) {
  out.append(",\"sources\":");
  json::append_string_array(out, sources);
  out.append(",\"tokenizer\":");
  json::append_string(out, tokenizer);
  out.append(",\"revoked\":");
  json::append_bool(out, revoked);
  out.append("}\n");
}

}  // namespace

EntryLineFrame::EntryLineFrame(const std::vector<std::string>& sources, std::string_view tokenizer,
                               bool revoked) {
  tail_.reserve(64 + tokenizer.size() + sources.size() * 68);
  append_tail(tail_, sources, tokenizer, revoked);
}

void EntryLineFrame::append_line(std::string& out, uint64_t token_count) const {
  out.append(kHead);
  json::append_unsigned(out, token_count);
  out.append(tail_);
}

std::string entry_line(const TokenIndexEntry& entry) {
  std::string line;
  line.reserve(96 + entry.tokenizer.size() + entry.sources.size() * 68);
  line.append(EntryLineFrame::kHead);
  json::append_unsigned(line, entry.token_count);
  append_tail(line, entry.sources, entry.tokenizer, entry.revoked);
  return line;
}

std::string entry_line_sorted(const TokenIndexEntry& entry) {
  std::string line;
  line.reserve(96);
  line.append("{\"revoked\":");
  json::append_bool(line, entry.revoked);
  line.append(",\"sources\":");
  json::append_string_array(line, entry.sources);
  line.append(",\"token_count\":");
  json::append_unsigned(line, entry.token_count);
  line.append(",\"tokenizer\":");
  json::append_string(line, entry.tokenizer);
  line.append("}\n");
  return line;
}

namespace {

bool read_members(const json::Value* count, const json::Value* sources, const json::Value* tokenizer,
                  const json::Value* revoked, TokenIndexEntry& out) {
  if (!count || !sources || !tokenizer || !revoked) return false;
  if (count->kind() != json::Kind::kUnsigned || !sources->is_array() || !tokenizer->is_string() ||
      !revoked->is_bool()) {
    return false;
  }
  out.sources.clear();
  for (const json::Value& source : sources->as_array()) {
    if (!source.is_string()) return false;
    out.sources.push_back(source.as_string());
  }
  out.token_count = count->as_unsigned();
  out.tokenizer = tokenizer->as_string();
  out.revoked = revoked->as_bool();
  return true;
}

}  // namespace

std::optional<TokenIndexEntry> entry_from_value(const json::Value& value) {
  TokenIndexEntry entry;
  if (value.is_array()) {
    const json::Array& items = value.as_array();
    if (items.size() != 4 || !read_members(&items[0], &items[1], &items[2], &items[3], entry)) return std::nullopt;
    return entry;
  }
  if (!value.is_object()) return std::nullopt;
  for (std::string_view own : {"token_count", "sources", "tokenizer", "revoked"}) {
    if (value.key_repeated(own)) return std::nullopt;
  }
  if (!read_members(value.find("token_count"), value.find("sources"), value.find("tokenizer"),
                    value.find("revoked"), entry)) {
    return std::nullopt;
  }
  return entry;
}

std::optional<TokenIndexEntry> parse_entry_line(json::Parser& parser, std::string_view line,
                                                size_t readable_after) {
  json::Value value;
  if (!parser.ParseInto(line, readable_after, value)) return std::nullopt;
  return entry_from_value(value);
}

}  // namespace zr::token_index
