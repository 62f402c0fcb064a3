// The system's JSON value.
//
// Objects keep their members in ascending byte order of the keys, so the
// compact text of a value is canonical and can be hashed. Objects also
// remember which keys the parsed text repeated (the last occurrence is the one
// kept): typed record readers refuse a record whose own members repeat.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zr::json {

class Value;

struct Member;

struct Object {
  // Sorted by key (byte order), keys unique.
  std::vector<Member> members;
  // Keys that occurred more than once in the parsed text.
  std::vector<std::string> repeated_keys;
};

using Array = std::vector<Value>;

enum class Kind { kNull, kBool, kUnsigned, kNegative, kFloat, kString, kArray, kObject };

class Value {
 public:
  Value() = default;  // null
  // Defined after Member: building a Value destroys a vector of members,
  // which some standard libraries instantiate only for a complete type.
  static Value Null();
  static Value Bool(bool b);
  static Value Unsigned(uint64_t u);
  // Only for negative integers; non-negative ones are Unsigned.
  static Value Negative(int64_t i);
  static Value Integer(int64_t i);
  static Value Float(double d);
  static Value String(std::string s);
  static Value MakeArray();
  static Value MakeArray(Array a);
  static Value MakeObject();
  static Value MakeObject(Object o);

  Kind kind() const { return static_cast<Kind>(storage_.index()); }
  bool is_null() const { return kind() == Kind::kNull; }
  bool is_bool() const { return kind() == Kind::kBool; }
  bool is_string() const { return kind() == Kind::kString; }
  bool is_array() const { return kind() == Kind::kArray; }
  bool is_object() const { return kind() == Kind::kObject; }
  bool is_number() const {
    Kind k = kind();
    return k == Kind::kUnsigned || k == Kind::kNegative || k == Kind::kFloat;
  }

  bool as_bool() const { return std::get<1>(storage_); }
  uint64_t as_unsigned() const { return std::get<2>(storage_); }
  int64_t as_negative() const { return std::get<3>(storage_); }
  double as_float() const { return std::get<4>(storage_); }
  const std::string& as_string() const { return std::get<5>(storage_); }
  const Array& as_array() const { return std::get<6>(storage_); }
  Array& as_array() { return std::get<6>(storage_); }
  const Object& as_object() const { return std::get<7>(storage_); }
  Object& as_object() { return std::get<7>(storage_); }

  // Object member lookup; nullptr when absent or when this is not an object.
  const Value* find(std::string_view key) const;
  // Inserts or replaces a member, keeping the byte order of keys.
  void set(std::string key, Value value);
  // True when `key` occurred more than once in the parsed object.
  bool key_repeated(std::string_view key) const;

  friend bool operator==(const Value& a, const Value& b);

 private:
  using Storage =
      std::variant<std::monostate, bool, uint64_t, int64_t, double, std::string, Array, Object>;
  explicit Value(Storage s);
  Storage storage_;
};

struct Member {
  std::string key;
  Value value;
};

inline Value::Value(Storage s) : storage_(std::move(s)) {}
inline Value Value::Null() { return Value(); }
inline Value Value::Bool(bool b) { return Value(Storage(std::in_place_index<1>, b)); }
inline Value Value::Unsigned(uint64_t u) { return Value(Storage(std::in_place_index<2>, u)); }
inline Value Value::Negative(int64_t i) { return Value(Storage(std::in_place_index<3>, i)); }
inline Value Value::Integer(int64_t i) { return i < 0 ? Negative(i) : Unsigned(static_cast<uint64_t>(i)); }
inline Value Value::Float(double d) { return Value(Storage(std::in_place_index<4>, d)); }
inline Value Value::String(std::string s) { return Value(Storage(std::in_place_index<5>, std::move(s))); }
inline Value Value::MakeArray() { return MakeArray(Array()); }
inline Value Value::MakeArray(Array a) { return Value(Storage(std::in_place_index<6>, std::move(a))); }
inline Value Value::MakeObject() { return MakeObject(Object()); }
inline Value Value::MakeObject(Object o) { return Value(Storage(std::in_place_index<7>, std::move(o))); }

bool operator==(const Member& a, const Member& b);
bool operator==(const Object& a, const Object& b);

// Builds an object from members in any order; a repeated key keeps its last
// value and is recorded as repeated.
Object make_object(std::vector<Member> members);

}  // namespace zr::json
