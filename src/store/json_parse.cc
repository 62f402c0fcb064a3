#include "store/json_parse.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "store/json_write.h"

namespace zr::json {

namespace od = simdjson::ondemand;
using simdjson::error_code;
using simdjson::SUCCESS;

namespace {

// The text of the current token (with any whitespace after it).
error_code raw_token(od::value& node, std::string_view& raw) {
  raw = node.raw_json_token();
  return SUCCESS;
}
error_code raw_token(od::document& node, std::string_view& raw) { return node.raw_json_token().get(raw); }

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads a number the parser could not represent (an integer beyond 64 bits)
// from its own text, as the float nearest to it.
error_code float_from_number_text(std::string_view raw, double& out) {
  size_t end = 0;
  while (end < raw.size() && (raw[end] == '-' || raw[end] == '+' || raw[end] == '.' || raw[end] == 'e' ||
                              raw[end] == 'E' || (raw[end] >= '0' && raw[end] <= '9'))) {
    ++end;
  }
  for (size_t i = end; i < raw.size(); ++i) {
    if (!is_json_whitespace(raw[i])) return simdjson::TRAILING_CONTENT;
  }
  auto r = std::from_chars(raw.data(), raw.data() + end, out);
  if (r.ec != std::errc() || r.ptr != raw.data() + end || !std::isfinite(out)) return simdjson::NUMBER_ERROR;
  return SUCCESS;
}

// Walks one value, reporting it to `sink` in text order. Works on the root
// document and on nested values alike.
template <typename Sink, typename Node>
error_code walk(Node& node, Sink& sink, int depth);

template <typename Sink, typename Node>
error_code walk_number(Node& node, Sink& sink) {
  od::number_type type;
  if (auto e = node.get_number_type().get(type)) return e;
  if (type == od::number_type::floating_point_number) {
    double d;
    if (auto e = node.get_double().get(d)) return e;
    sink.floating(d);
    return SUCCESS;
  }
  if (type == od::number_type::unsigned_integer) {
    uint64_t u;
    if (node.get_uint64().get(u) == SUCCESS) {
      sink.unsigned_integer(u);
      return SUCCESS;
    }
  } else {
    int64_t i;
    if (node.get_int64().get(i) == SUCCESS) {
      if (i < 0) {
        sink.negative_integer(i);
      } else if (i == 0) {
        // The parser reads "-0" as the integer 0; it is the float -0.0.
        std::string_view raw;
        if (auto e = raw_token(node, raw)) return e;
        if (!raw.empty() && raw[0] == '-') {
          sink.floating(-0.0);
        } else {
          sink.unsigned_integer(0);
        }
      } else {
        sink.unsigned_integer(static_cast<uint64_t>(i));
      }
      return SUCCESS;
    }
  }
  // An integer too large for 64 bits is held as a float.
  std::string_view raw;
  if (auto e = raw_token(node, raw)) return e;
  double d;
  if (auto e = float_from_number_text(raw, d)) return e;
  sink.floating(d);
  return SUCCESS;
}

template <typename Sink, typename Node>
error_code walk(Node& node, Sink& sink, int depth) {
  od::json_type type;
  if (auto e = node.type().get(type)) return e;
  switch (type) {
    case od::json_type::array: {
      if (depth >= kMaxNesting) return simdjson::DEPTH_ERROR;
      od::array array;
      if (auto e = node.get_array().get(array)) return e;
      sink.begin_array();
      for (auto element : array) {
        od::value v;
        if (auto e = std::move(element).get(v)) return e;
        if (auto e = walk(v, sink, depth + 1)) return e;
      }
      sink.end_array();
      return SUCCESS;
    }
    case od::json_type::object: {
      if (depth >= kMaxNesting) return simdjson::DEPTH_ERROR;
      od::object object;
      if (auto e = node.get_object().get(object)) return e;
      sink.begin_object();
      for (auto field_result : object) {
        od::field field;
        if (auto e = std::move(field_result).get(field)) return e;
        std::string_view key;
        if (auto e = field.unescaped_key().get(key)) return e;
        sink.key(key);
        od::value v = field.value();
        if (auto e = walk(v, sink, depth + 1)) return e;
      }
      sink.end_object();
      return SUCCESS;
    }
    case od::json_type::number:
      return walk_number(node, sink);
    case od::json_type::string: {
      std::string_view s;
      if (auto e = node.get_string().get(s)) return e;
      sink.string(s);
      return SUCCESS;
    }
    case od::json_type::boolean: {
      bool b;
      if (auto e = node.get_bool().get(b)) return e;
      sink.boolean(b);
      return SUCCESS;
    }
    case od::json_type::null: {
      bool is_null = false;
      if (auto e = node.is_null().get(is_null)) return e;
      if (!is_null) return simdjson::N_ATOM_ERROR;
      sink.null();
      return SUCCESS;
    }
  }
  return simdjson::TAPE_ERROR;
}

// Builds a Value tree.
class TreeSink {
 public:
  explicit TreeSink(Value& root) : root_(root) {}

  void null() { put(Value::Null()); }
  void boolean(bool b) { put(Value::Bool(b)); }
  void unsigned_integer(uint64_t u) { put(Value::Unsigned(u)); }
  void negative_integer(int64_t i) { put(Value::Negative(i)); }
  void floating(double d) { put(Value::Float(d)); }
  void string(std::string_view s) { put(Value::String(std::string(s))); }
  void begin_array() { frames_.push_back(Frame{Value::MakeArray(), {}, {}}); }
  void end_array() { finish(); }
  void begin_object() { frames_.push_back(Frame{Value(), {}, {}}); }
  void key(std::string_view k) { frames_.back().pending_key.assign(k); }
  void end_object() {
    Frame& f = frames_.back();
    f.container = Value::MakeObject(make_object(std::move(f.members)));
    finish();
  }

 private:
  struct Frame {
    Value container;             // the array being filled (objects collect members)
    std::vector<Member> members;  // object members in text order
    std::string pending_key;
  };

  void put(Value v) {
    if (frames_.empty()) {
      root_ = std::move(v);
      return;
    }
    Frame& f = frames_.back();
    if (f.container.is_array()) {
      f.container.as_array().push_back(std::move(v));
    } else {
      f.members.push_back(Member{std::move(f.pending_key), std::move(v)});
      f.pending_key.clear();
    }
  }

  void finish() {
    Value done = std::move(frames_.back().container);
    frames_.pop_back();
    put(std::move(done));
  }

  Value& root_;
  std::vector<Frame> frames_;
};

// Writes compact text directly. Object members are written in text order;
// when an object's keys turn out unsorted or repeated, its members are
// reordered in place from a scratch copy (the last of a repeated key wins).
// All buffers are reused across texts.
class CanonicalSink {
 public:
  struct MemberSpan {
    std::string_view key;  // unescaped; lives in the parser's string buffer
    size_t begin;          // where the member's text starts in out
    size_t end;            // one past its last byte
  };

  struct Frame {
    bool is_object;
    bool first;
    size_t members_begin;
  };

  CanonicalSink(std::string& out, std::string& scratch, std::vector<MemberSpan>& members,
                std::vector<uint32_t>& order, std::vector<Frame>& frames)
      : out_(out), scratch_(scratch), members_(members), order_(order), frames_(frames) {}

  void null() {
    separate();
    out_.append("null");
  }
  void boolean(bool b) {
    separate();
    append_bool(out_, b);
  }
  void unsigned_integer(uint64_t u) {
    separate();
    append_unsigned(out_, u);
  }
  void negative_integer(int64_t i) {
    separate();
    append_signed(out_, i);
  }
  void floating(double d) {
    separate();
    append_float(out_, d);
  }
  void string(std::string_view s) {
    separate();
    append_string(out_, s);
  }
  void begin_array() {
    separate();
    out_.push_back('[');
    frames_.push_back(Frame{false, true, members_.size()});
  }
  void end_array() {
    out_.push_back(']');
    frames_.pop_back();
  }
  void begin_object() {
    separate();
    out_.push_back('{');
    frames_.push_back(Frame{true, true, members_.size()});
  }
  void key(std::string_view k) {
    Frame& f = frames_.back();
    if (!f.first) {
      members_.back().end = out_.size();
      out_.push_back(',');
    }
    f.first = false;
    members_.push_back(MemberSpan{k, out_.size(), 0});
    append_string(out_, k);
    out_.push_back(':');
    value_follows_key_ = true;
  }
  void end_object() {
    Frame f = frames_.back();
    frames_.pop_back();
    if (members_.size() > f.members_begin) {
      members_.back().end = out_.size();
      reorder_members(f.members_begin);
      members_.resize(f.members_begin);
    }
    out_.push_back('}');
  }

 private:
  // Writes the comma before an array element; object members get theirs in key().
  void separate() {
    if (value_follows_key_) {
      value_follows_key_ = false;
      return;
    }
    if (frames_.empty()) return;
    Frame& f = frames_.back();
    if (!f.first) out_.push_back(',');
    f.first = false;
  }

  void reorder_members(size_t begin) {
    size_t count = members_.size() - begin;
    bool in_order = true;
    for (size_t i = begin + 1; i < members_.size(); ++i) {
      if (!(members_[i - 1].key < members_[i].key)) {
        in_order = false;
        break;
      }
    }
    if (in_order) return;

    order_.clear();
    for (size_t i = 0; i < count; ++i) order_.push_back(static_cast<uint32_t>(begin + i));
    // Ties broken by position so that the last occurrence sorts last; plain
    // sort (unlike stable_sort) needs no temporary buffer.
    std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) {
      int c = members_[a].key.compare(members_[b].key);
      return c < 0 || (c == 0 && a < b);
    });

    size_t region_begin = members_[begin].begin;
    scratch_.assign(out_, region_begin, out_.size() - region_begin);
    out_.resize(region_begin);
    bool first = true;
    for (size_t i = 0; i < order_.size(); ++i) {
      if (i + 1 < order_.size() && members_[order_[i]].key == members_[order_[i + 1]].key) continue;
      const MemberSpan& m = members_[order_[i]];
      if (!first) out_.push_back(',');
      first = false;
      out_.append(scratch_, m.begin - region_begin, m.end - m.begin);
    }
  }

  std::string& out_;
  std::string& scratch_;
  std::vector<MemberSpan>& members_;
  std::vector<uint32_t>& order_;
  std::vector<Frame>& frames_;
  bool value_follows_key_ = false;
};

}  // namespace

size_t required_padding() { return simdjson::SIMDJSON_PADDING; }

struct Parser::Impl {
  od::parser parser;
  std::string padded;  // copy of texts that cannot be parsed in place
  std::string scratch;
  std::vector<CanonicalSink::MemberSpan> members;
  std::vector<uint32_t> order;
  std::vector<CanonicalSink::Frame> frames;

  // Runs `sink` over the one value of `text`; SUCCESS only when the text is
  // exactly one value with nothing but whitespace around it.
  template <typename Sink>
  error_code run(std::string_view text, size_t readable_after, Sink& sink) {
    const char* data = text.data();
    size_t capacity = text.size() + readable_after;
    if (readable_after < simdjson::SIMDJSON_PADDING) {
      padded.assign(text);
      padded.append(simdjson::SIMDJSON_PADDING, ' ');
      data = padded.data();
      capacity = padded.size();
    }
    od::document doc;
    if (auto e = parser.iterate(simdjson::padded_string_view(data, text.size(), capacity)).get(doc)) return e;
    od::json_type root_type;
    if (auto e = doc.type().get(root_type)) return e;
    if (auto e = walk(doc, sink, 0)) return e;
    // A scalar root is checked for trailing content as it is read; after a
    // container only the end of the input may follow.
    if (root_type == od::json_type::array || root_type == od::json_type::object) {
      if (doc.current_location().error() != simdjson::OUT_OF_BOUNDS) return simdjson::TRAILING_CONTENT;
    }
    return SUCCESS;
  }
};

Parser::Parser() : impl_(std::make_unique<Impl>()) {}
Parser::~Parser() = default;

Result<Value> Parser::Parse(std::string_view text) {
  Value out;
  if (!ParseInto(text, 0, out)) return Status::Error(describe_parse_failure(text));
  return out;
}

bool Parser::ParseInto(std::string_view text, size_t readable_after, Value& out) {
  Value root;
  TreeSink sink(root);
  if (impl_->run(text, readable_after, sink) != SUCCESS) return false;
  out = std::move(root);
  return true;
}

bool Parser::Canonicalize(std::string_view text, size_t readable_after, std::string& out) {
  out.clear();
  impl_->members.clear();
  impl_->frames.clear();
  CanonicalSink sink(out, impl_->scratch, impl_->members, impl_->order, impl_->frames);
  return impl_->run(text, readable_after, sink) == SUCCESS;
}

namespace {

struct TextPosition {
  size_t line = 1;
  size_t column = 1;
};

TextPosition position_of(std::string_view text, size_t offset) {
  TextPosition pos;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++pos.line;
      pos.column = 1;
    } else {
      ++pos.column;
    }
  }
  return pos;
}

std::string at_position(std::string_view what, std::string_view text, size_t offset) {
  TextPosition pos = position_of(text, offset);
  return std::string(what) + " at line " + std::to_string(pos.line) + " column " + std::to_string(pos.column);
}

bool is_word_char(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::string describe_parse_failure(std::string_view text) {
  // Locate the first fault that a scan outside string literals can see: a
  // bare word that is not a JSON literal (NaN, Infinity) or nesting that is
  // too deep. Anything subtler is reported at the start of the text.
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return at_position("recursion limit exceeded", text, i);
    } else if (c == ']' || c == '}') {
      --depth;
    } else if (is_word_char(c)) {
      size_t end = i;
      while (end < text.size() && is_word_char(text[end])) ++end;
      std::string_view word = text.substr(i, end - i);
      bool after_number = i > 0 && ((text[i - 1] >= '0' && text[i - 1] <= '9') || text[i - 1] == '.');
      if (word != "true" && word != "false" && word != "null" && !after_number) {
        return at_position("expected value", text, i);
      }
      i = end - 1;
    }
  }
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return at_position("EOF while parsing a value", text, text.size());
  return at_position("invalid JSON", text, first);
}

}  // namespace zr::json
