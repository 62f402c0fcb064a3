#include "maintenance/clean_leftovers.h"

#include <initializer_list>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/file_replacement.h"
#include "index/binary_index_writer.h"
#include "purge/archive.h"
#include "purge/restore_note.h"
#include "purge/stale_pending.h"
#include "store/store_paths.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_index_names.h"

namespace zr::maintenance {

namespace {

bool has_temp_name(std::string_view name, std::initializer_list<std::string_view> prefixes) {
  for (std::string_view prefix : prefixes) {
    if (base::is_temp_file_name(name, prefix)) return true;
  }
  return false;
}

// Removes the regular files of `dir` named by one of `prefixes`.
void remove_temp_files(const std::string& dir, std::initializer_list<std::string_view> prefixes) {
  base::Result<std::vector<base::DirEntry>> entries = base::list_directory(dir);
  if (!entries.ok()) return;
  for (const base::DirEntry& entry : *entries) {
    if (entry.kind == base::PathKind::kRegularFile && has_temp_name(entry.name, prefixes)) {
      (void)base::remove_file(base::path_join(dir, entry.name));
    }
  }
}

}  // namespace

void remove_writer_leftovers(std::string_view zr_dir) {
  const std::string store = store::store_dir(zr_dir);
  base::Result<std::vector<base::DirEntry>> entries = base::list_directory(store);
  if (!entries.ok()) return;
  for (const base::DirEntry& entry : *entries) {
    const std::string path = base::path_join(store, entry.name);
    if (entry.kind == base::PathKind::kRegularFile &&
        has_temp_name(entry.name, {base::kReplacementTempPrefix, index::kBinaryIndexTempPrefix,
                                   token_index::kTokenBinaryIndexTempPrefix})) {
      (void)base::remove_file(path);
    } else if (entry.kind == base::PathKind::kDirectory && entry.name.starts_with(token_index::kTokenIndexPrefix)) {
      // A tokenizer's merged directory: chunk files are replaced there.
      remove_temp_files(path, {base::kReplacementTempPrefix});
    }
  }

  purge::discard_stale_pending_purges(zr_dir);

  const std::string archives = purge::archive_dir(zr_dir);
  base::Result<std::vector<base::DirEntry>> archived = base::list_directory(archives);
  if (!archived.ok()) return;
  for (const base::DirEntry& entry : *archived) {
    if (purge::is_restore_note_name(entry.name)) purge::discard_stale_restore_note(base::path_join(archives, entry.name));
  }
}

}  // namespace zr::maintenance
