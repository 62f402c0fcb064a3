#include "maintenance/store_merge.h"

#include <string>

#include "base/file.h"
#include "index/index_build.h"
#include "index/rebuild_mark.h"
#include "maintenance/store_merge_layers.h"
#include "maintenance/store_merge_tokens.h"
#include "store/oplog.h"
#include "store/store_paths.h"

namespace zr::maintenance {

std::string merge_detail(std::string_view source, const StoreMergeCounts& c) {
  std::string detail = "source=";
  detail.append(source);
  detail += " authors=" + std::to_string(c.authors_added) + " sections=" + std::to_string(c.sections_added) +
            " document=" + std::to_string(c.document_added) + " token_index=" + std::to_string(c.token_index_added) +
            " skipped=" + std::to_string(c.skipped);
  return detail;
}

base::Result<StoreMergeCounts> merge_absorb(std::string_view source, std::string_view target) {
  return merge_absorb_by_route(source, target, MergeRoute::kQuick);
}

base::Result<StoreMergeCounts> merge_absorb_by_route(std::string_view source, std::string_view target,
                                                     MergeRoute route) {
  ZR_ASSIGN_OR_RETURN(base::PathKind source_store_kind, base::path_kind(store::store_dir(source)));
  if (source_store_kind != base::PathKind::kDirectory) {
    return base::Status::Error("Source has no .zr/ directory: " + std::string(source));
  }
  StoreMergeCounts counts;
  // Marked before the first layer record goes in, so that a merge killed
  // before its index build leaves the next one (or build_index) to do it.
  bool marked = false;
  auto mark_index_stale = [&]() -> base::Status {
    if (marked) return base::Status();
    marked = true;
    return index::set_rebuild_mark(target);
  };
  struct Step {
    const LayerIdentity* kind;
    uint64_t* added;
  };
  for (Step step : {Step{&kAuthorIdentity, &counts.authors_added}, Step{&kSectionIdentity, &counts.sections_added},
                    Step{&kDocumentIdentity, &counts.document_added}}) {
    ZR_ASSIGN_OR_RETURN(LayerMergeCounts layer, merge_layer(source, target, *step.kind, route, mark_index_stale));
    *step.added = layer.added;
    counts.skipped += layer.skipped;
  }

  ZR_ASSIGN_OR_RETURN(TokenMergeCounts tokens, merge_token_entries(source, target, route));
  counts.token_index_added = tokens.added;
  counts.skipped += tokens.skipped;

  // Only authors, sections and document records change what the attribution
  // queries answer; new token entries alone are not worth a rebuild. The
  // mark stands for records an interrupted merge added.
  if (counts.authors_added + counts.sections_added + counts.document_added > 0 || index::has_rebuild_mark(target)) {
    (void)index::build_index(target);
  }
  ZR_RETURN_IF_ERROR(store::oplog_append(target, "merge", merge_detail(source, counts)));
  return counts;
}

}  // namespace zr::maintenance
