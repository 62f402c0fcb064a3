#include "token_index/canonical_records.h"

#include <array>

#include "store/flat_object.h"
#include "store/jsonl.h"

namespace zr::token_index {

namespace {

constexpr std::array<std::string_view, 4> kEntryKeys = {"token_count", "sources", "tokenizer", "revoked"};
// A count of nineteen digits or fewer is below 2^64, so it is held as an
// unsigned integer and written back with the same digits.
constexpr int kCountDigits = 19;

// Steps over `literal` at the front of `rest`.
bool skip_literal(std::string_view& rest, std::string_view literal) {
  if (!rest.starts_with(literal)) return false;
  rest.remove_prefix(literal.size());
  return true;
}

// Steps over a member value the scanner found, provided it is the text at
// the front of `rest` (and not, say, an equal text elsewhere in the line).
bool skip_value(std::string_view& rest, std::string_view value) {
  if (rest.data() != value.data() || rest.size() < value.size()) return false;
  rest.remove_prefix(value.size());
  return true;
}

// The strings of an array are separated by single commas, nothing else.
bool compact_string_array(std::string_view items) {
  size_t length = 0;
  size_t count = 0;
  store::for_each_flat_string(items, [&](std::string_view item) {
    length += item.size() + 2;
    ++count;
  });
  if (count > 0) length += count - 1;
  return length == items.size();
}

}  // namespace

bool append_sorted_written_entry(std::string& out, std::string_view line) {
  std::array<store::FlatField, 4> fields;
  if (!store::scan_flat_object(line, kEntryKeys, fields, kCountDigits)) return false;
  for (const store::FlatField& field : fields) {
    if (field.count != 1) return false;
  }
  const std::string_view count = fields[0].text;
  const std::string_view sources = fields[1].text;
  const std::string_view tokenizer = fields[2].text;
  const std::string_view revoked = fields[3].text;
  // The scanner took the count as an integer, so a leading digit leaves
  // only plain digits without a sign ("-0" would be written as a float).
  if (fields[0].kind != store::FlatKind::kOther || count.empty() || count[0] < '0' || count[0] > '9') return false;
  if (fields[1].kind != store::FlatKind::kStringArray || fields[2].kind != store::FlatKind::kString) return false;
  if (fields[3].kind != store::FlatKind::kOther || (revoked != "true" && revoked != "false")) return false;

  std::string_view rest = line;
  bool written_form = skip_literal(rest, "{\"token_count\":") && skip_value(rest, count) &&
                      skip_literal(rest, ",\"sources\":[") && skip_value(rest, sources) &&
                      skip_literal(rest, "],\"tokenizer\":\"") && skip_value(rest, tokenizer) &&
                      skip_literal(rest, "\",\"revoked\":") && skip_value(rest, revoked) && rest == "}";
  if (!written_form || !compact_string_array(sources)) return false;

  out.append("{\"revoked\":").append(revoked);
  out.append(",\"sources\":[").append(sources);
  out.append("],\"token_count\":").append(count);
  out.append(",\"tokenizer\":\"").append(tokenizer);
  out.append("\"}");
  return true;
}

uint64_t RecordCanonicalizer::AppendRecords(std::string_view text, std::string& out) {
  uint64_t records = 0;
  store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
    if (!append_sorted_written_entry(out, line)) {
      if (!parser_.Canonicalize(line, readable_after, scratch_)) return;
      out.append(scratch_);
    }
    out.push_back('\n');
    ++records;
  });
  return records;
}

}  // namespace zr::token_index
