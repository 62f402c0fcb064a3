#include "maintenance/clean.h"

#include <string>
#include <vector>

#include "base/file.h"
#include "base/file_system.h"
#include "maintenance/clean_docidx.h"
#include "maintenance/clean_leftovers.h"
#include "purge/archive.h"
#include "maintenance/record_archive.h"
#include "store/oplog.h"
#include "store/store_paths.h"
#include "token_index/merge_pid_files.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_status.h"

namespace zr::maintenance {

namespace {

// Moves an oversized log to "log.1" (replacing an older one) and starts an
// empty log. Returns whether it rotated.
base::Result<bool> rotate_log(std::string_view zr_dir) {
  std::string log = store::store_path(zr_dir, store::kLogName);
  base::Result<base::FileStatus> status = base::file_status(log);
  if (!status.ok()) {
    if (status.status().is_missing()) return false;
    return status.status();
  }
  if (status->size <= kLogRotationThreshold) return false;
  std::string previous = store::store_path(zr_dir, "log.1");
  ZR_RETURN_IF_ERROR(base::rename_path(log, previous));
  ZR_RETURN_IF_ERROR(base::write_file(log, ""));
  // Like every replacement of a file: once the call returned, a power cut
  // must not undo the rotation.
  ZR_RETURN_IF_ERROR(base::sync_directory(store::store_dir(zr_dir)));
  return true;
}

base::Status merge_token_indexes(std::string_view zr_dir, CleanCounts& counts) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> tokenizers, token_index::token_index_list_tokenizers(zr_dir));
  for (const std::string& tokenizer : tokenizers) {
    ZR_ASSIGN_OR_RETURN(token_index::MergeCounts merged, token_index::token_index_merge_pid_files(zr_dir, tokenizer));
    counts.token_index_merged += merged.records_merged;
    counts.token_index_pid_deleted += merged.files_handled;
    // The chunk files are the record; an index that cannot be built is
    // simply not used, and readers fall back to the chunk files.
    (void)token_index::token_index_build_binary_index(zr_dir, tokenizer);
  }
  return base::Status();
}

base::Result<uint64_t> archive_all_flagged(std::string_view zr_dir) {
  std::string dir = purge::archive_dir(zr_dir);
  ZR_RETURN_IF_ERROR(base::make_directories(dir));
  struct LayerKey {
    std::string_view layer;
    std::string_view key;
  };
  uint64_t total = 0;
  for (LayerKey lk : {LayerKey{store::kDocumentIndexLayer, "line_hash"},
                      LayerKey{store::kSectionsLayer, "section_hash"}, LayerKey{store::kAuthorsLayer, "id"}}) {
    ZR_ASSIGN_OR_RETURN(uint64_t n, archive_flagged_records(zr_dir, dir, lk.layer, lk.key));
    total += n;
  }
  return total;
}

// Empties an existing split directory. Best effort: it holds scratch files
// of other tools, and housekeeping must not fail over them.
void empty_split_directory(std::string_view zr_dir) {
  std::string split = store::store_path(zr_dir, "split");
  // A symbolic link in its place is removed, not followed: only the link goes.
  base::Result<bool> removed = base::remove_tree(split);
  if (removed.ok() && !*removed) return;  // there was none
  (void)base::make_directories(split);
}

}  // namespace

base::Result<CleanCounts> clean(std::string_view zr_dir, bool split) {
  CleanCounts counts;
  ZR_ASSIGN_OR_RETURN(const bool store_exists, base::directory_exists(store::store_dir(zr_dir)));
  if (!store_exists) return counts;

  ZR_ASSIGN_OR_RETURN(bool rotated, rotate_log(zr_dir));
  counts.log_rotated = rotated ? 1 : 0;
  ZR_RETURN_IF_ERROR(store::oplog_append(zr_dir, "clean", split ? "split=true" : "split=false"));

  ZR_ASSIGN_OR_RETURN(DocidxFoldCounts folded, fold_docidx_files(zr_dir));
  counts.document_merged = folded.records_merged;
  counts.pid_files_deleted = folded.files_deleted;

  ZR_RETURN_IF_ERROR(merge_token_indexes(zr_dir, counts));
  ZR_ASSIGN_OR_RETURN(counts.archived_records, archive_all_flagged(zr_dir));
  remove_writer_leftovers(zr_dir);

  if (split) empty_split_directory(zr_dir);
  return counts;
}

}  // namespace zr::maintenance
