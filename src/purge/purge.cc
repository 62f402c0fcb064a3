#include "purge/purge.h"

#include "purge/line_sets.h"
#include "store/oplog.h"

namespace zr::purge {

base::Result<PurgeCounts> purge_revoked(std::string_view zr_dir, const std::string& data_file, bool dry_run) {
  if (dry_run) {
    ZR_ASSIGN_OR_RETURN(uint64_t listed, revoked_list_size(zr_dir));
    return PurgeCounts{listed, 0, 0};
  }
  // One clock reading names the archive and stamps both log lines.
  const int64_t seconds = store::unix_seconds_now();
  ZR_ASSIGN_OR_RETURN(LineSet lines, revoked_line_set(zr_dir));
  return purge_lines_by_hash(zr_dir, data_file, lines,
                             [&](uint64_t purged) {
                               return "purged " + std::to_string(purged) + " lines from " + data_file;
                             },
                             seconds);
}

base::Result<PurgeCounts> purge_by_author_indexd(std::string_view zr_dir, std::string_view author_name,
                                                 const std::string& data_file, bool dry_run) {
  const int64_t seconds = store::unix_seconds_now();
  ZR_ASSIGN_OR_RETURN(LineSet lines, author_line_set(zr_dir, author_name));
  if (dry_run) return PurgeCounts{lines.size(), 0, 0};
  return purge_lines_by_hash(zr_dir, data_file, lines,
                             [&](uint64_t purged) {
                               return "purged " + std::to_string(purged) + " lines from " + data_file +
                                      " (indexed, author=" + std::string(author_name) + ")";
                             },
                             seconds);
}

}  // namespace zr::purge
