// The revocation mark of a stored record: its JSON boolean member "revoked".
//
// Generic readers treat a record whose mark is absent or not a boolean as
// not revoked; toggling such a record revokes it.
#pragma once

#include <string_view>

#include "json/value.h"

namespace zr::revocation {

inline constexpr std::string_view kRevokedMember = "revoked";

// True only when `record` is an object whose "revoked" member is true.
bool is_marked_revoked(const json::Value& record);

// The mark a toggle gives `record`: the negation of a boolean mark, true
// for an absent or non-boolean one (and for a record that is no object).
bool toggled_mark(const json::Value& record);

// True when `record` is an object whose member `key` is a string equal to
// `value`, byte for byte.
bool string_member_equals(const json::Value& record, std::string_view key, std::string_view value);

}  // namespace zr::revocation
