#include "json/parse.h"

#include <simdjson.h>

#include <algorithm>
#include <vector>

#include "json/fast_canonical.h"
#include "json/number.h"
#include "json/write.h"

namespace zr::json {
ZR_ISA_BEGIN

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

// Walks one value, reporting it to `sink` in text order. Works on the root
// document and on nested values alike.
template <typename Sink, typename Node>
error_code walk(Node& node, Sink& sink, int depth);

// Numbers are read from their own text, never by the library's readers (see
// json/number.h); the iterator skips a value left unread.
template <typename Sink, typename Node>
error_code walk_number(Node& node, Sink& sink) {
  std::string_view raw;
  if (auto e = raw_token(node, raw)) return e;
  // A sink writing text may take a short integer or a plain float from its
  // spelling, leaving the number unparsed.
  if constexpr (Sink::kTakesNumberText) {
    if (sink.number_text(raw)) return SUCCESS;
  }
  Number number;
  if (!read_number(trim_trailing_whitespace(raw), number)) return simdjson::NUMBER_ERROR;
  switch (number.kind) {
    case NumberKind::kUnsigned: sink.unsigned_integer(number.unsigned_value); break;
    case NumberKind::kNegative: sink.negative_integer(number.negative_value); break;
    case NumberKind::kFloat: sink.floating(number.float_value); break;
  }
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
        od::value v = field.value();
        // A key without a backslash is its own text: take it from the input
        // instead of unescaping a copy. It ends at the first quotation mark
        // before the value.
        const char* key_begin = field.key().raw();
        const char* value_begin = v.raw_json_token().data();
        const char* key_end = key_begin;
        while (key_end < value_begin && *key_end != '"' && *key_end != '\\') ++key_end;
        if (key_end < value_begin && *key_end == '"') {
          sink.key(std::string_view(key_begin, static_cast<size_t>(key_end - key_begin)), false);
        } else {
          std::string_view key;
          if (auto e = field.unescaped_key().get(key)) return e;
          sink.key(key, true);
        }
        if (auto e = walk(v, sink, depth + 1)) return e;
      }
      sink.end_object();
      return SUCCESS;
    }
    case od::json_type::number:
      return walk_number(node, sink);
    case od::json_type::string: {
      // Most strings hold no escape: their text between the quotation marks
      // is the value itself (the input's UTF-8 and control characters were
      // checked for the whole text up front), so it is neither unescaped nor
      // re-escaped.
      std::string_view raw;
      if (auto e = raw_token(node, raw)) return e;
      raw = trim_trailing_whitespace(raw);
      if (raw.size() >= 2 && raw.back() == '"') {
        std::string_view body = raw.substr(1, raw.size() - 2);
        bool taken = false;
        if (body.find('\\') == std::string_view::npos) {
          sink.string(body, false);
          taken = true;
        } else if constexpr (Sink::kTakesEscapedText) {
          // A sink writing text can also re-spell the escapes directly.
          taken = sink.escaped_string(body);
        }
        if (taken) {
          od::raw_json_string consumed;
          return node.get_raw_json_string().get(consumed);
        }
      }
      std::string_view s;
      if (auto e = node.get_string().get(s)) return e;
      sink.string(s, true);
      return SUCCESS;
    }
    case od::json_type::boolean: {
      std::string_view raw;
      if (auto e = raw_token(node, raw)) return e;
      bool b;
      if (!read_bool_literal(trim_trailing_whitespace(raw), b)) return simdjson::T_ATOM_ERROR;
      sink.boolean(b);
      return SUCCESS;
    }
    case od::json_type::null: {
      std::string_view raw;
      if (auto e = raw_token(node, raw)) return e;
      if (trim_trailing_whitespace(raw) != "null") return simdjson::N_ATOM_ERROR;
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
  static constexpr bool kTakesNumberText = false;
  static constexpr bool kTakesEscapedText = false;
  void floating(double d) { put(Value::Float(d)); }
  void string(std::string_view s, bool /*may_need_escapes*/) { put(Value::String(std::string(s))); }
  void begin_array() { frames_.push_back(Frame{Value::MakeArray(), {}, {}}); }
  void end_array() { finish(); }
  void begin_object() { frames_.push_back(Frame{Value(), {}, {}}); }
  void key(std::string_view k, bool /*may_need_escapes*/) { frames_.back().pending_key.assign(k); }
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
  static constexpr bool kTakesNumberText = true;
  static constexpr bool kTakesEscapedText = true;
  // False, writing nothing, when an escape is not valid.
  bool escaped_string(std::string_view body) {
    return try_write([&] { return append_string_from_escaped(out_, body); });
  }
  // Most numbers can be written from their own text, unparsed; false,
  // writing nothing, when this one cannot.
  bool number_text(std::string_view text) {
    return try_write([&] { return append_integer_text(out_, text) || append_float_text(out_, text); });
  }
  void floating(double d) {
    separate();
    append_float(out_, d);
  }
  void string(std::string_view s, bool may_need_escapes) {
    separate();
    write_string(s, may_need_escapes);
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
  void key(std::string_view k, bool may_need_escapes) {
    Frame& f = frames_.back();
    if (!f.first) {
      members_.back().end = out_.size();
      out_.push_back(',');
    }
    f.first = false;
    members_.push_back(MemberSpan{k, out_.size(), 0});
    write_string(k, may_need_escapes);
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
  // Runs `write` after separate(); when it writes nothing after all, the
  // separator is taken back too.
  template <typename Write>
  bool try_write(Write&& write) {
    size_t mark = out_.size();
    bool value_follows_key = value_follows_key_;
    bool first = !frames_.empty() && frames_.back().first;
    separate();
    if (write()) return true;
    out_.resize(mark);
    value_follows_key_ = value_follows_key;
    if (!frames_.empty()) frames_.back().first = first;
    return false;
  }

  // Text taken verbatim from the input between its quotation marks holds
  // nothing that needs escaping.
  void write_string(std::string_view s, bool may_need_escapes) {
    if (may_need_escapes) {
      append_string(out_, s);
      return;
    }
    out_.push_back('"');
    out_.append(s);
    out_.push_back('"');
  }

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

    // The members are copied in order into scratch. For the outermost
    // object (nothing but its "{" before it) the two buffers then swap;
    // for a nested one the result is copied back into place.
    size_t region_begin = members_[begin].begin;
    bool outermost = frames_.empty();
    scratch_.assign(out_, 0, outermost ? region_begin : 0);
    bool first = true;
    for (size_t i = 0; i < order_.size(); ++i) {
      if (i + 1 < order_.size() && members_[order_[i]].key == members_[order_[i + 1]].key) continue;
      const MemberSpan& m = members_[order_[i]];
      if (!first) scratch_.push_back(',');
      first = false;
      scratch_.append(out_, m.begin, m.end - m.begin);
    }
    if (outermost) {
      out_.swap(scratch_);
    } else {
      out_.replace(region_begin, std::string::npos, scratch_);
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
  FastCanonicalizer fast;
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
    bool container = root_type == od::json_type::array || root_type == od::json_type::object;
    if (!container) {
      // A scalar root must be the text's only token: the library's string
      // reader does not look at what follows a root string. The token's text
      // runs to the next token, or to the end of the text when there is none.
      std::string_view token;
      if (auto e = doc.raw_json_token().get(token)) return e;
      if (token.data() + token.size() != data + text.size()) return simdjson::TRAILING_CONTENT;
    }
    if (auto e = walk(doc, sink, 0)) return e;
    // After a container only the end of the input may follow (scalar roots
    // were checked above).
    if (container && doc.current_location().error() != simdjson::OUT_OF_BOUNDS) return simdjson::TRAILING_CONTENT;
    return SUCCESS;
  }
};

Parser::Parser() : impl_(std::make_unique<Impl>()) {}
Parser::~Parser() = default;

base::Result<Value> Parser::Parse(std::string_view text) {
  Value out;
  if (!ParseInto(text, 0, out)) return base::Status::Error(describe_parse_failure(text));
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
  return CanonicalizeFast(text, out) || CanonicalizeFull(text, readable_after, out);
}

bool Parser::CanonicalizeFast(std::string_view text, std::string& out) { return impl_->fast.Run(text, out); }

bool Parser::CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) {
  out.clear();
  impl_->members.clear();
  impl_->frames.clear();
  CanonicalSink sink(out, impl_->scratch, impl_->members, impl_->order, impl_->frames);
  return impl_->run(text, readable_after, sink) == SUCCESS;
}

ZR_ISA_END
}  // namespace zr::json
