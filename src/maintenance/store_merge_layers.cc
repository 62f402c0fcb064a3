#include "maintenance/store_merge_layers.h"

#include "maintenance/record_identity.h"
#include "store/jsonl.h"
#include "store/record_archive_io.h"
#include "store/shard_appender.h"
#include "store/store_paths.h"

namespace zr::maintenance {

const LayerIdentity kAuthorIdentity{store::kAuthorsLayer, {"id", {}}, 1};
const LayerIdentity kSectionIdentity{store::kSectionsLayer, {"section_hash", {}}, 1};
const LayerIdentity kDocumentIdentity{store::kDocumentIndexLayer, {"line_hash", "file"}, 2};

base::Result<LayerMergeCounts> merge_layer(std::string_view source, std::string_view target,
                                           const LayerIdentity& kind, MergeRoute route,
                                           const std::function<base::Status()>& before_first_copy) {
  HeldIdentities held;
  IdentityReader reader(kind, route);
  ZR_RETURN_IF_ERROR(for_each_layer_line(target, kind.layer, held, [&](std::string_view line, size_t readable_after) {
    if (reader.Read(line, readable_after) == LineKind::kIdentity) held.Insert(reader);
    return base::Status();
  }));

  LayerMergeCounts counts;
  store::ShardAppender appender(store::store_path(target, kind.layer));
  ZR_RETURN_IF_ERROR(for_each_layer_line(source, kind.layer, held, [&](std::string_view line, size_t readable_after) {
    const LineKind line_kind = reader.Read(line, readable_after);
    if (line_kind == LineKind::kNotRecord) return base::Status();
    // A key that cannot name a shard would make a path outside the layer.
    if (line_kind == LineKind::kNoIdentity || !store::names_safe_shard(reader.key()[0]) || !held.Insert(reader)) {
      ++counts.skipped;
      return base::Status();
    }
    if (counts.added++ == 0 && before_first_copy) ZR_RETURN_IF_ERROR(before_first_copy());
    return appender.Queued(reader.AppendCompact(appender.QueueFor(reader.key()[0])));
  }));
  ZR_RETURN_IF_ERROR(appender.Flush());
  return counts;
}

}  // namespace zr::maintenance
