#include "index/record_reader.h"

#include <cerrno>

#include "store/store_paths.h"

namespace zr::index {

RecordReader::RecordReader(std::initializer_list<std::string_view> keys)
    : keys_(keys), flat_(keys.size()), members_(keys.size()) {}

bool RecordReader::Read(std::string_view line, size_t readable_after) {
  if (!scan_flat_object(line, keys_, flat_)) return ReadParsed(line, readable_after);
  for (size_t i = 0; i < keys_.size(); ++i) {
    const FlatField& field = flat_[i];
    MemberView& member = members_[i];
    member.strings.clear();
    switch (field.kind) {
      case FlatKind::kAbsent:
        member.kind = MemberKind::kAbsent;
        break;
      case FlatKind::kString:
        member.kind = MemberKind::kString;
        member.text = field.text;
        break;
      case FlatKind::kStringArray:
        member.kind = MemberKind::kArray;
        for_each_flat_string(field.text, [&](std::string_view s) { member.strings.push_back(s); });
        break;
      case FlatKind::kOther:
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

bool names_safe_shard(std::string_view key) {
  if (key.size() < 2) return false;
  if (key.size() > 2 && (static_cast<unsigned char>(key[2]) & 0xC0) == 0x80) return false;
  return is_safe_shard_name(key.substr(0, 2));
}

Result<std::vector<std::string>> regular_files_in(const std::string& dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<DirEntry> entries, list_directory(dir));
  std::vector<std::string> files;
  files.reserve(entries.size());
  for (const DirEntry& entry : entries) {
    if (entry.kind == PathKind::kRegularFile) files.push_back(path_join(dir, entry.name));
  }
  return files;
}

}  // namespace zr::index
