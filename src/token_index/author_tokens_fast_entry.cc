#include "token_index/author_tokens_fast_entry.h"

#include <cstdint>
#include <cstring>

namespace zr::token_index {

namespace {

class PlainLine {
 public:
  explicit PlainLine(std::string_view line) : p_(line.data()), end_(line.data() + line.size()) {}

  bool Read(TokenIndexEntry& out) {
    if (!Take('{')) return false;
    unsigned seen = 0;
    for (int i = 0; i < 4; ++i) {
      if (i > 0 && !Take(',')) return false;
      std::string_view key;
      if (!Take('"') || !String(key) || !Take(':')) return false;
      unsigned bit = 0;
      if (key == "token_count") {
        bit = 1;
        if (!Count(out.token_count)) return false;
      } else if (key == "sources") {
        bit = 2;
        if (!Sources(out.sources)) return false;
      } else if (key == "tokenizer") {
        bit = 4;
        std::string_view name;
        if (!Take('"') || !String(name)) return false;
        out.tokenizer.assign(name);
      } else if (key == "revoked") {
        bit = 8;
        if (!Bool(out.revoked)) return false;
      } else {
        return false;  // other members: the full reader decides
      }
      if ((seen & bit) != 0) return false;  // a repeat: the full reader refuses it
      seen |= bit;
    }
    return Take('}') && p_ == end_;
  }

 private:
  bool Take(char c) {
    if (p_ < end_ && *p_ == c) {
      ++p_;
      return true;
    }
    return false;
  }

  // The rest of a string after its opening quote; plain printable ASCII only.
  bool String(std::string_view& out) {
    const char* begin = p_;
    for (; p_ < end_; ++p_) {
      auto c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        out = std::string_view(begin, static_cast<size_t>(p_ - begin));
        ++p_;
        return true;
      }
      if (c == '\\' || c < 0x20 || c >= 0x80) return false;
    }
    return false;
  }

  // At most 19 digits, so the value always fits; longer ones are declined.
  bool Count(uint64_t& out) {
    const char* begin = p_;
    uint64_t value = 0;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9' && p_ - begin < 19) {
      value = value * 10 + static_cast<uint64_t>(*p_ - '0');
      ++p_;
    }
    size_t digits = static_cast<size_t>(p_ - begin);
    if (digits == 0 || (digits > 1 && *begin == '0')) return false;
    if (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E' || (*p_ >= '0' && *p_ <= '9'))) return false;
    out = value;
    return true;
  }

  bool Sources(std::vector<std::string>& out) {
    out.clear();
    if (!Take('[')) return false;
    if (Take(']')) return true;
    do {
      std::string_view source;
      if (!Take('"') || !String(source)) return false;
      out.emplace_back(source);
    } while (Take(','));
    return Take(']');
  }

  bool Bool(bool& out) {
    size_t left = static_cast<size_t>(end_ - p_);
    if (left >= 4 && std::memcmp(p_, "true", 4) == 0) {
      p_ += 4;
      out = true;
      return true;
    }
    if (left >= 5 && std::memcmp(p_, "false", 5) == 0) {
      p_ += 5;
      out = false;
      return true;
    }
    return false;
  }

  const char* p_;
  const char* end_;
};

}  // namespace

FastRead read_plain_entry(std::string_view line, TokenIndexEntry& out) {
  return PlainLine(line).Read(out) ? FastRead::kEntry : FastRead::kDeclined;
}

std::optional<TokenIndexEntry> read_entry_line(json::Parser& parser, std::string_view line, size_t readable_after) {
  TokenIndexEntry entry;
  if (read_plain_entry(line, entry) == FastRead::kEntry) return entry;
  return parse_entry_line(parser, line, readable_after);
}

}  // namespace zr::token_index
