#include "purge/reverse.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "base/file.h"
#include "purge/archive.h"
#include "store/record_archive_io.h"
#include "json/write.h"
#include "store/oplog.h"

namespace zr::purge {

namespace {

void report_no_archive() {
  // The command-line tool shows this as is; flushed at once so that it is
  // not overtaken by later output of the process.
  static constexpr char kMessage[] = "No purge archive found\n";
  std::fwrite(kMessage, 1, sizeof kMessage - 1, stdout);
  std::fflush(stdout);
}

// The name of the newest purge archive: names sort in time order.
base::Result<std::optional<std::string>> newest_purge_archive(const std::string& dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory(dir));
  std::optional<std::string> newest;
  for (const base::DirEntry& entry : entries) {
    if (!entry.name.starts_with(kPurgeArchivePrefix)) continue;
    if (!newest || entry.name > *newest) newest = entry.name;
  }
  return newest;
}

}  // namespace

base::Result<uint64_t> purge_reverse(std::string_view zr_dir, const std::string& data_file) {
  std::string dir = archive_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::PathKind dir_kind, base::path_kind(dir));
  if (dir_kind != base::PathKind::kDirectory) {
    report_no_archive();
    return uint64_t{0};
  }
  ZR_ASSIGN_OR_RETURN(std::optional<std::string> newest, newest_purge_archive(dir));
  if (!newest) {
    report_no_archive();
    return uint64_t{0};
  }
  std::string archive = base::path_join(dir, *newest);

  std::string restored;
  uint64_t count = 0;
  ZR_RETURN_IF_ERROR(store::for_each_record(archive, [&](const json::Value& record) {
    const json::Value* line = record.find("line");
    if (line == nullptr) return base::Status();
    json::append_compact(restored, *line);
    restored.push_back('\n');
    ++count;
    return base::Status();
  }));
  if (count > 0) ZR_RETURN_IF_ERROR(base::append_to_file(data_file, restored));
  ZR_RETURN_IF_ERROR(base::remove_file(archive));
  ZR_RETURN_IF_ERROR(
      store::oplog_append(zr_dir, "purge_reverse", "restored " + std::to_string(count) + " lines from " + archive));
  return count;
}

}  // namespace zr::purge
