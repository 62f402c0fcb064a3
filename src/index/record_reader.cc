#include "index/record_reader.h"

namespace zr::index {

RecordReader::RecordReader(std::initializer_list<std::string_view> keys)
    : keys_(keys), flat_(keys.size()), members_(keys.size()) {}

bool RecordReader::Read(std::string_view line, size_t readable_after) {
  if (!store::scan_flat_object(line, keys_, flat_)) return ReadParsed(line, readable_after);
  for (size_t i = 0; i < keys_.size(); ++i) {
    const store::FlatField& field = flat_[i];
    MemberView& member = members_[i];
    member.strings.clear();
    switch (field.kind) {
      case store::FlatKind::kAbsent:
        member.kind = MemberKind::kAbsent;
        break;
      case store::FlatKind::kString:
        member.kind = MemberKind::kString;
        member.text = field.text;
        break;
      case store::FlatKind::kStringArray:
        member.kind = MemberKind::kArray;
        store::for_each_flat_string(field.text, [&](std::string_view s) { member.strings.push_back(s); });
        break;
      case store::FlatKind::kOther:
        member.kind = MemberKind::kOther;
        break;
    }
  }
  return true;
}

bool RecordReader::ReadParsed(std::string_view line, size_t readable_after) {
  if (!parser_.ParseInto(line, readable_after, value_) || !value_.is_object()) return false;
  for (size_t i = 0; i < keys_.size(); ++i) {
    MemberView& member = members_[i];
    member.strings.clear();
    const json::Value* v = value_.find(keys_[i]);
    if (v == nullptr) {
      member.kind = MemberKind::kAbsent;
    } else if (v->is_string()) {
      member.kind = MemberKind::kString;
      member.text = v->as_string();
    } else if (v->is_array()) {
      member.kind = MemberKind::kArray;
      for (const json::Value& item : v->as_array()) {
        if (item.is_string()) member.strings.push_back(item.as_string());
      }
    } else {
      member.kind = MemberKind::kOther;
    }
  }
  return true;
}

}  // namespace zr::index
