#include "maintenance/record_archive.h"

#include <vector>

#include "base/file.h"
#include "store/record_archive_io.h"
#include "store/store_paths.h"

namespace zr::maintenance {

namespace {

bool member_is_true(const json::Value& record, std::string_view name) {
  const json::Value* member = record.find(name);
  return member != nullptr && member->is_bool() && member->as_bool();
}

// Length of the well-formed UTF-8 sequence starting at `s[i]`, or 0.
size_t utf8_sequence_length(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t len = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  unsigned char second = byte(i + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return len;
}

}  // namespace

bool is_flagged_record(const json::Value& record) {
  return record.is_object() && (member_is_true(record, "revoked") || member_is_true(record, "orphan"));
}

size_t name_length_in_characters(std::string_view name) {
  size_t count = 0;
  for (size_t i = 0; i < name.size(); ++count) {
    size_t len = utf8_sequence_length(name, i);
    i += len == 0 ? 1 : len;
  }
  return count;
}

base::Result<uint64_t> archive_flagged_records(std::string_view zr_dir, const std::string& archive_dir,
                                               std::string_view layer, std::string_view key_member,
                                               FlaggedRead read) {
  std::string layer_dir = store::store_path(zr_dir, layer);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(layer_dir));

  std::string prefix = base::path_join(archive_dir, layer);
  prefix.push_back('.');
  store::BatchedAppender appender;
  uint64_t archived = 0;
  for (const base::DirEntry& entry : entries) {
    if (entry.kind != base::PathKind::kRegularFile || name_length_in_characters(entry.name) != 2) continue;
    // A flag is a member whose value is JSON true, which has one spelling:
    // a line without "true" holds no flagged record and is not parsed.
    const std::string path = base::path_join(layer_dir, entry.name);
    const std::string_view needle = read == FlaggedRead::kQuick ? "true" : "";
    ZR_RETURN_IF_ERROR(store::for_each_record_holding(path, needle, [&](const json::Value& record) {
      if (!is_flagged_record(record)) return base::Status();
      const json::Value* key = record.find(key_member);
      if (key == nullptr || !key->is_string()) return base::Status();
      // A key that cannot name a shard cannot name an archive file either;
      // writing it anywhere could leave the archive directory.
      base::Result<std::string> shard = store::shard_name(key->as_string());
      if (!shard.ok()) return base::Status();
      ++archived;
      return appender.AddRecord(prefix + *shard, record);
    }));
  }
  ZR_RETURN_IF_ERROR(appender.Flush());
  return archived;
}

}  // namespace zr::maintenance
