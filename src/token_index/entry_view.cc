#include "token_index/entry_view.h"

#include <array>

#include "json/write.h"

namespace zr::token_index {

namespace {

constexpr std::array<std::string_view, 4> kEntryKeys = {"token_count", "sources", "tokenizer", "revoked"};

// A count is a non-negative integer: nineteen digits at most always fit.
bool read_count(std::string_view text, uint64_t& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  uint64_t value = 0;
  for (char c : text) value = value * 10 + static_cast<uint64_t>(c - '0');
  out = value;
  return true;
}

bool read_bool(std::string_view text, bool& out) {
  if (text != "true" && text != "false") return false;
  out = text == "true";
  return true;
}

}  // namespace

EntryView view_of(const PlainEntryView& plain) {
  EntryView view;
  view.token_count = plain.token_count;
  view.tokenizer = plain.tokenizer;
  view.revoked = plain.revoked;
  view.plain_sources = plain.sources;
  return view;
}

EntryView view_of(const TokenIndexEntry& entry) {
  EntryView view;
  view.token_count = entry.token_count;
  view.tokenizer = entry.tokenizer;
  view.revoked = entry.revoked;
  view.parsed_sources = &entry.sources;
  return view;
}

FastRead read_plain_entry_view(std::string_view line, PlainEntryView& out) {
  std::array<store::FlatField, 4> fields;
  if (!store::scan_flat_object(line, kEntryKeys, fields, 19)) return FastRead::kDeclined;
  // Each own member exactly once: a repeat or an absence is for the full
  // reader to judge.
  for (const store::FlatField& field : fields) {
    if (field.count != 1) return FastRead::kDeclined;
  }
  const store::FlatField& count = fields[0];
  const store::FlatField& sources = fields[1];
  const store::FlatField& tokenizer = fields[2];
  const store::FlatField& revoked = fields[3];
  if (count.kind != store::FlatKind::kOther || !read_count(count.text, out.token_count)) return FastRead::kDeclined;
  if (sources.kind != store::FlatKind::kStringArray || tokenizer.kind != store::FlatKind::kString)
    return FastRead::kDeclined;
  if (revoked.kind != store::FlatKind::kOther || !read_bool(revoked.text, out.revoked)) return FastRead::kDeclined;
  out.sources = sources.text;
  out.tokenizer = tokenizer.text;
  return FastRead::kEntry;
}

FastRead read_plain_entry(std::string_view line, TokenIndexEntry& out) {
  PlainEntryView view;
  if (read_plain_entry_view(line, view) == FastRead::kDeclined) return FastRead::kDeclined;
  out.token_count = view.token_count;
  out.revoked = view.revoked;
  out.sources.clear();
  store::for_each_flat_string(view.sources, [&](std::string_view source) { out.sources.emplace_back(source); });
  out.tokenizer.assign(view.tokenizer);
  return FastRead::kEntry;
}

void append_plain_entry_line(std::string& out, const PlainEntryView& view) {
  // Plain strings hold nothing the writer escapes: their texts are what it
  // writes.
  out.append("{\"token_count\":");
  json::append_unsigned(out, view.token_count);
  out.append(",\"sources\":[");
  bool first = true;
  store::for_each_flat_string(view.sources, [&](std::string_view source) {
    if (!first) out.push_back(',');
    first = false;
    out.push_back('"');
    out.append(source);
    out.push_back('"');
  });
  out.append("],\"tokenizer\":\"");
  out.append(view.tokenizer);
  out.append("\",\"revoked\":");
  json::append_bool(out, view.revoked);
  out.append("}\n");
}

std::optional<TokenIndexEntry> read_entry_line(json::Parser& parser, std::string_view line, size_t readable_after) {
  TokenIndexEntry entry;
  if (read_plain_entry(line, entry) == FastRead::kEntry) return entry;
  return parse_entry_line(parser, line, readable_after);
}

}  // namespace zr::token_index
