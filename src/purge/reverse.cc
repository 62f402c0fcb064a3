#include "purge/reverse.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "base/file.h"
#include "base/file_system.h"
#include "purge/archive.h"
#include "purge/restore_note.h"
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

// The name of the newest purge archive (names sort in time order), none
// when there is no archive directory.
base::Result<std::optional<std::string>> newest_purge_archive(const std::string& dir) {
  // Something else where the archive directory belongs is a damaged store,
  // not one without archives.
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory_if_exists(dir));
  std::optional<std::string> newest;
  for (const base::DirEntry& entry : entries) {
    if (!entry.name.starts_with(kPurgeArchivePrefix)) continue;
    if (!newest || entry.name > *newest) newest = entry.name;
  }
  return newest;
}

struct RestoredLines {
  std::string text;  // compact lines, each ending in "\n"
  uint64_t count = 0;
};

base::Result<RestoredLines> read_restored_lines(const std::string& archive) {
  RestoredLines lines;
  ZR_RETURN_IF_ERROR(store::for_each_record(archive, [&](const json::Value& record) {
    const json::Value* line = record.find("line");
    if (line == nullptr) return base::Status();
    json::append_compact(lines.text, *line);
    lines.text.push_back('\n');
    ++lines.count;
    return base::Status();
  }));
  return lines;
}

std::string block_of(const RestoredLines& lines, bool separated) {
  return separated ? "\n" + lines.text : lines.text;
}

// Steps 1 and 2 of the protocol in reverse.h.
base::Status append_with_note(const std::string& data_file, const std::string& archive, const std::string& note_path,
                              const RestoredLines& lines) {
  ZR_ASSIGN_OR_RETURN(base::UniqueFd fd, base::open_for_append(data_file));
  ZR_ASSIGN_OR_RETURN(base::FileStatus data, base::descriptor_status(fd.get()));
  if (data.kind != base::PathKind::kRegularFile) return base::append_lines(fd.get(), lines.text);
  RestoreNote note;
  note.data_size = data.size;
  note.separated = base::ends_mid_line(fd.get());
  ZR_ASSIGN_OR_RETURN(note.data_file, base::resolve_path(data_file));
  ZR_ASSIGN_OR_RETURN(note.archive, base::file_identity(archive));
  ZR_RETURN_IF_ERROR(write_restore_note(note_path, note));
  ZR_RETURN_IF_ERROR(base::write_all(fd.get(), block_of(lines, note.separated)));
  return base::sync_file(fd.get());
}

base::Status refuse_to_finish(const std::string& archive, const RestoreNote& note, std::string_view why) {
  return base::Status::Error("Cannot finish the interrupted restore of " + archive + " into " + note.data_file +
                             ": " + std::string(why));
}

// Appends what an interrupted restore left out of its block, if anything.
base::Status finish_interrupted_append(const std::string& data_file, const std::string& archive,
                                       const RestoreNote& note, const RestoredLines& lines) {
  ZR_ASSIGN_OR_RETURN(std::string resolved, base::resolve_path(data_file));
  if (resolved != note.data_file) return refuse_to_finish(archive, note, "it is another data file than " + data_file);
  ZR_ASSIGN_OR_RETURN(base::UniqueFd fd, base::open_for_append(note.data_file));
  ZR_ASSIGN_OR_RETURN(base::FileStatus data, base::descriptor_status(fd.get()));
  static constexpr std::string_view kChanged = "the data file changed since the restore began";
  if (data.kind != base::PathKind::kRegularFile || data.size < note.data_size) {
    return refuse_to_finish(archive, note, kChanged);
  }
  ZR_ASSIGN_OR_RETURN(base::MappedFile mapped, base::MappedFile::Map(fd.get(), static_cast<size_t>(data.size), false));
  const std::string block = block_of(lines, note.separated);
  const std::string_view appended = mapped.view().substr(static_cast<size_t>(note.data_size));
  if (appended.size() >= block.size()) {
    // All there; whatever follows was appended by someone else afterwards.
    if (!appended.starts_with(block)) return refuse_to_finish(archive, note, kChanged);
    return base::Status();
  }
  if (!std::string_view(block).starts_with(appended)) return refuse_to_finish(archive, note, kChanged);
  ZR_RETURN_IF_ERROR(base::write_all(fd.get(), std::string_view(block).substr(appended.size())));
  return base::sync_file(fd.get());
}

}  // namespace

base::Result<uint64_t> purge_reverse(std::string_view zr_dir, const std::string& data_file) {
  std::string dir = archive_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(std::optional<std::string> newest, newest_purge_archive(dir));
  if (!newest) {
    report_no_archive();
    return uint64_t{0};
  }
  const std::string archive = base::path_join(dir, *newest);
  ZR_ASSIGN_OR_RETURN(const RestoredLines lines, read_restored_lines(archive));

  const std::string note_path = restore_note_path(archive);
  ZR_ASSIGN_OR_RETURN(const std::optional<RestoreNote> interrupted, current_restore_note(note_path, archive));
  if (interrupted) {
    ZR_RETURN_IF_ERROR(finish_interrupted_append(data_file, archive, *interrupted, lines));
  } else if (lines.count > 0) {
    ZR_RETURN_IF_ERROR(append_with_note(data_file, archive, note_path, lines));
  }
  ZR_RETURN_IF_ERROR(base::remove_file(archive));
  ZR_RETURN_IF_ERROR(store::oplog_append(zr_dir, "purge_reverse",
                                         "restored " + std::to_string(lines.count) + " lines from " + archive));
  // Left behind, the note names an archive that is gone: harmless, and
  // housekeeping removes it.
  (void)base::remove_file(note_path);
  return lines.count;
}

}  // namespace zr::purge
