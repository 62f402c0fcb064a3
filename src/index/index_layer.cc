#include "index/index_layer.h"

#include "base/file.h"
#include "base/file_replacement.h"
#include "base/file_system.h"
#include "index/record_reader.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::index {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

base::Status replace_index_layer(std::string_view zr_dir, const std::vector<IndexGroup>& groups) {
  const std::string dir = store::store_path(zr_dir, store::kIndexLayer);
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> stale, base::regular_files_in(dir));
  for (const std::string& path : stale) ZR_RETURN_IF_ERROR(base::remove_file(path));
  ZR_RETURN_IF_ERROR(base::make_directories(dir));
  // Each file appears whole (a crash can leave the layer short of files, never
  // a cut-off one). The temporary files wait in the store directory, where no
  // layer scan looks. The layer is derived, so a power cut is left to the next
  // build: no flush to disk per file.
  const std::string temp_dir = store::store_dir(zr_dir);
  for (const IndexGroup& group : groups) {
    ZR_RETURN_IF_ERROR(base::replace_file_atomically(base::path_join(dir, group.name), group.text, temp_dir,
                                                     base::kReplacementTempPrefix, base::Flush::kNone));
  }
  return base::Status();
}

size_t EntryList::PositionOf(const store::HashKey& key) {
  const auto [position, added] = positions.TryEmplace(key, entries.size());
  if (added) entries.push_back(IndexEntry{key, {}});
  return static_cast<size_t>(position);
}

std::optional<uint8_t> parse_shard_ref(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : text) {
    const int digit = hex_digit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<uint8_t>(value);
}

bool has_extension(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot != std::string_view::npos && dot > 0;
}

base::Result<EntryList> read_index_layer(std::string_view zr_dir) {
  EntryList list;
  const std::string dir = store::store_path(zr_dir, store::kIndexLayer);
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> items, base::list_directory_if_exists(dir));
  RecordReader reader{"id", "refs"};
  for (const base::DirEntry& item : items) {
    if (item.kind != base::PathKind::kRegularFile || has_extension(item.name)) continue;
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(base::path_join(dir, item.name)));
    store::for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
      if (!reader.Read(line, readable_after)) return;
      const MemberView& id = reader.member(0);
      const MemberView& refs = reader.member(1);
      if (id.kind != MemberKind::kString) return;
      const std::optional<store::HashKey> key = store::decode_hash_key(id.text);
      if (!key) return;
      // A key met twice (hand-edited layers) gets an entry per record; later
      // token refs join the first, the one a lookup finds.
      list.positions.TryEmplace(*key, list.entries.size());
      IndexEntry& entry = list.entries.emplace_back(IndexEntry{*key, {}});
      entry.refs.reserve(refs.strings.size());
      for (std::string_view ref : refs.strings) {
        if (std::optional<uint8_t> shard = parse_shard_ref(ref)) entry.refs.emplace_back(ShardRef{*shard});
      }
    });
  }
  return list;
}

}  // namespace zr::index
