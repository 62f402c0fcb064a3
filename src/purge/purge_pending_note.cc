#include "purge/purge_pending_note.h"

#include <charconv>

namespace zr::purge {

namespace {

template <typename Int>
bool take_number(std::string_view& text, char separator, Int& out) {
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, out);
  if (ec != std::errc() || stop == end || *stop != separator) return false;
  text.remove_prefix(static_cast<size_t>(stop - text.data()) + 1);
  return true;
}

}  // namespace

std::string format_pending_note(const PendingNote& note) {
  const FileIdentity& id = note.identity;
  std::string text;
  for (int64_t n : {static_cast<int64_t>(id.device), static_cast<int64_t>(id.inode), static_cast<int64_t>(id.size),
                    id.mtime_s, id.mtime_ns, id.ctime_s, id.ctime_ns}) {
    if (!text.empty()) text.push_back(' ');
    text.append(std::to_string(n));
  }
  text.push_back('\n');
  text.append(note.data_file);
  return text;
}

std::optional<PendingNote> parse_pending_note(std::string_view text) {
  PendingNote note;
  FileIdentity& id = note.identity;
  int64_t device = 0, inode = 0, size = 0;
  if (!take_number(text, ' ', device) || !take_number(text, ' ', inode) || !take_number(text, ' ', size) ||
      !take_number(text, ' ', id.mtime_s) || !take_number(text, ' ', id.mtime_ns) ||
      !take_number(text, ' ', id.ctime_s) || !take_number(text, '\n', id.ctime_ns) || text.empty()) {
    return std::nullopt;
  }
  id.device = static_cast<uint64_t>(device);
  id.inode = static_cast<uint64_t>(inode);
  id.size = static_cast<uint64_t>(size);
  note.data_file = std::string(text);
  return note;
}

bool data_file_unchanged(const PendingNote& note) {
  base::Result<FileIdentity> now = base::file_identity(note.data_file);
  return now.ok() && *now == note.identity;
}

}  // namespace zr::purge
