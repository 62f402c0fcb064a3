#include "json/value.h"

#include <algorithm>

namespace zr::json {

namespace {
auto member_less = [](const Member& m, std::string_view key) { return std::string_view(m.key) < key; };
}

const Value* Value::find(std::string_view key) const {
  if (!is_object()) return nullptr;
  const auto& members = as_object().members;
  auto it = std::lower_bound(members.begin(), members.end(), key, member_less);
  if (it == members.end() || it->key != key) return nullptr;
  return &it->value;
}

void Value::set(std::string key, Value value) {
  auto& members = as_object().members;
  auto it = std::lower_bound(members.begin(), members.end(), std::string_view(key), member_less);
  if (it != members.end() && it->key == key) {
    it->value = std::move(value);
  } else {
    members.insert(it, Member{std::move(key), std::move(value)});
  }
}

bool Value::key_repeated(std::string_view key) const {
  if (!is_object()) return false;
  const auto& repeated = as_object().repeated_keys;
  return std::find(repeated.begin(), repeated.end(), key) != repeated.end();
}

bool operator==(const Value& a, const Value& b) { return a.storage_ == b.storage_; }

bool operator==(const Member& a, const Member& b) { return a.key == b.key && a.value == b.value; }

bool operator==(const Object& a, const Object& b) { return a.members == b.members; }

Object make_object(std::vector<Member> members) {
  Object object;
  // Stable sort keeps equal keys in text order, so the last one is the kept one.
  std::stable_sort(members.begin(), members.end(),
                   [](const Member& x, const Member& y) { return std::string_view(x.key) < std::string_view(y.key); });
  object.members.reserve(members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    if (i + 1 < members.size() && members[i].key == members[i + 1].key) {
      if (object.repeated_keys.empty() || object.repeated_keys.back() != members[i].key) {
        object.repeated_keys.push_back(members[i].key);
      }
      continue;
    }
    object.members.push_back(std::move(members[i]));
  }
  return object;
}

}  // namespace zr::json
