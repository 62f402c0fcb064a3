#include "index/rebuild_mark.h"

#include "base/file.h"
#include "store/store_paths.h"

namespace zr::index {

std::string rebuild_mark_path(std::string_view zr_dir) { return store::store_path(zr_dir, kRebuildMarkName); }

base::Status set_rebuild_mark(std::string_view zr_dir) {
  const std::string path = rebuild_mark_path(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::UniqueFd fd, base::open_for_append(path));
  ZR_RETURN_IF_ERROR(base::sync_file(fd.get()));
  return base::sync_directory(store::store_dir(zr_dir));
}

bool has_rebuild_mark(std::string_view zr_dir) {
  base::Result<base::PathKind> kind = base::path_kind(rebuild_mark_path(zr_dir));
  return kind.ok() && *kind != base::PathKind::kMissing;
}

base::Status clear_rebuild_mark(std::string_view zr_dir) { return base::remove_file(rebuild_mark_path(zr_dir)); }

}  // namespace zr::index
