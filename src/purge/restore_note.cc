#include "purge/restore_note.h"

#include "base/file.h"
#include "purge/archive.h"
#include "purge/note_text.h"

namespace zr::purge {

namespace {

// The archive a note at `note_path` belongs to.
std::string archive_path_of(const std::string& note_path) {
  const size_t slash = note_path.rfind('/');
  const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  std::string path = note_path.substr(0, name_at);
  path.append(std::string_view(note_path).substr(name_at + kRestoreNotePrefix.size()));
  return path;
}

}  // namespace

std::string restore_note_path(const std::string& archive_path) {
  const size_t slash = archive_path.rfind('/');
  const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  std::string path = archive_path.substr(0, name_at);
  path.append(kRestoreNotePrefix);
  path.append(std::string_view(archive_path).substr(name_at));
  return path;
}

bool is_restore_note_name(std::string_view name) {
  return name.starts_with(kRestoreNotePrefix) && name.substr(kRestoreNotePrefix.size()).starts_with(kPurgeArchivePrefix);
}

std::string format_restore_note(const RestoreNote& note) {
  const base::FileIdentity& id = note.archive;
  std::string text;
  append_note_numbers(text, {static_cast<int64_t>(id.device), static_cast<int64_t>(id.inode),
                             static_cast<int64_t>(id.size), id.mtime_s, id.mtime_ns, id.ctime_s, id.ctime_ns,
                             static_cast<int64_t>(note.data_size), int64_t{note.separated},
                             static_cast<int64_t>(note.data_file.size())});
  text.append(note.data_file);
  return text;
}

std::optional<RestoreNote> parse_restore_note(std::string_view text) {
  RestoreNote note;
  base::FileIdentity& id = note.archive;
  int64_t device = 0, inode = 0, size = 0, data_size = 0, separated = 0, path_length = 0;
  if (!take_note_number(text, ' ', device) || !take_note_number(text, ' ', inode) || !take_note_number(text, ' ', size) ||
      !take_note_number(text, ' ', id.mtime_s) || !take_note_number(text, ' ', id.mtime_ns) ||
      !take_note_number(text, ' ', id.ctime_s) || !take_note_number(text, ' ', id.ctime_ns) ||
      !take_note_number(text, ' ', data_size) || !take_note_number(text, ' ', separated) ||
      !take_note_number(text, '\n', path_length)) {
    return std::nullopt;
  }
  // The path's length is what tells a whole note from one cut short.
  if (data_size < 0 || (separated != 0 && separated != 1) || path_length <= 0 ||
      static_cast<uint64_t>(path_length) != text.size()) {
    return std::nullopt;
  }
  id.device = static_cast<uint64_t>(device);
  id.inode = static_cast<uint64_t>(inode);
  id.size = static_cast<uint64_t>(size);
  note.data_size = static_cast<uint64_t>(data_size);
  note.separated = separated == 1;
  note.data_file = std::string(text);
  return note;
}

base::Status write_restore_note(const std::string& note_path, const RestoreNote& note) {
  ZR_ASSIGN_OR_RETURN(base::UniqueFd fd, base::create_for_append(note_path));
  ZR_RETURN_IF_ERROR(base::write_all(fd.get(), format_restore_note(note)));
  ZR_RETURN_IF_ERROR(base::sync_file(fd.get()));
  return base::sync_directory(base::parent_directory(note_path));
}

base::Result<std::optional<RestoreNote>> current_restore_note(const std::string& note_path,
                                                              const std::string& archive_path) {
  base::Result<base::MappedFile> text = base::MappedFile::Open(note_path);
  if (!text.ok()) {
    if (text.status().is_missing()) return std::optional<RestoreNote>();
    return text.status();
  }
  std::optional<RestoreNote> note = parse_restore_note(text->view());
  if (!note) {
    // Cut short while it was written: then nothing was appended yet.
    ZR_RETURN_IF_ERROR(base::remove_file(note_path));
    return note;
  }
  ZR_ASSIGN_OR_RETURN(base::FileIdentity archive, base::file_identity(archive_path));
  if (archive != note->archive) {
    ZR_RETURN_IF_ERROR(base::remove_file(note_path));
    return std::optional<RestoreNote>();
  }
  return note;
}

void discard_stale_restore_note(const std::string& note_path) {
  base::Result<base::MappedFile> text = base::MappedFile::Open(note_path);
  if (!text.ok()) return;
  std::optional<RestoreNote> note = parse_restore_note(text->view());
  if (note) {
    base::Result<base::FileIdentity> archive = base::file_identity(archive_path_of(note_path));
    if (archive.ok() && *archive == note->archive) return;  // still needed to finish that restore
    // An archive that cannot be examined for another reason than absence
    // may still be the one: keep the note.
    if (!archive.ok() && !archive.status().is_missing()) return;
  }
  (void)base::remove_file(note_path);
}

}  // namespace zr::purge
