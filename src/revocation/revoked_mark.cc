#include "revocation/revoked_mark.h"

namespace zr::revocation {

bool is_marked_revoked(const json::Value& record) {
  const json::Value* mark = record.find(kRevokedMember);
  return mark != nullptr && mark->is_bool() && mark->as_bool();
}

bool toggled_mark(const json::Value& record) {
  const json::Value* mark = record.find(kRevokedMember);
  if (mark == nullptr || !mark->is_bool()) return true;
  return !mark->as_bool();
}

bool string_member_equals(const json::Value& record, std::string_view key, std::string_view value) {
  const json::Value* member = record.find(key);
  return member != nullptr && member->is_string() && member->as_string() == value;
}

}  // namespace zr::revocation
