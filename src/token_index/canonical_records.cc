#include "token_index/canonical_records.h"

#include "store/flat_object.h"
#include "store/jsonl.h"
#include "token_index/entry_view.h"

namespace zr::token_index {

using namespace std::string_view_literals;

namespace {

// Steps over `literal` at the front of `rest`.
bool skip_literal(std::string_view& rest, std::string_view literal) {
  if (!rest.starts_with(literal)) return false;
  rest.remove_prefix(literal.size());
  return true;
}

// Steps over a member text the reader found, provided it is the text at the
// front of `rest` (and not an equal text elsewhere in the line).
bool skip_member_text(std::string_view& rest, std::string_view text) {
  if (rest.data() != text.data() || rest.size() < text.size()) return false;
  rest.remove_prefix(text.size());
  return true;
}

// Steps over the digits at the front of `rest`, returning them.
std::string_view skip_digits(std::string_view& rest) {
  size_t n = 0;
  while (n < rest.size() && rest[n] >= '0' && rest[n] <= '9') ++n;
  std::string_view digits = rest.substr(0, n);
  rest.remove_prefix(n);
  return digits;
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
  PlainEntryView entry;
  if (read_plain_entry_view(line, entry) != FastRead::kEntry) return false;
  // The reader vouches for the values (a count that fits 64 bits, strings
  // without escapes); what is left to check is that the line holds them
  // in the written layout and nothing else, so that their texts are the
  // compact writer's.
  std::string_view rest = line;
  if (!skip_literal(rest, "{\"token_count\":"sv)) return false;
  const std::string_view count = skip_digits(rest);
  const std::string_view revoked = entry.revoked ? "true"sv : "false"sv;
  const bool written_form = !count.empty() && skip_literal(rest, ",\"sources\":["sv) &&
                            skip_member_text(rest, entry.sources) && skip_literal(rest, "],\"tokenizer\":\""sv) &&
                            skip_member_text(rest, entry.tokenizer) && skip_literal(rest, "\",\"revoked\":"sv) &&
                            skip_literal(rest, revoked) && rest == "}";
  if (!written_form || !compact_string_array(entry.sources)) return false;

  out.append("{\"revoked\":"sv).append(revoked);
  out.append(",\"sources\":["sv).append(entry.sources);
  out.append("],\"token_count\":"sv).append(count);
  out.append(",\"tokenizer\":\""sv).append(entry.tokenizer);
  out.append("\"}"sv);
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
