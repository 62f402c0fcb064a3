#include "removal/store_merge_layers.h"

#include <unordered_set>

#include "removal/record_archive_io.h"
#include "store/store_paths.h"

namespace zr::removal {

namespace {

const std::string* string_member(const json::Value& record, std::string_view name) {
  const json::Value* member = record.find(name);
  return member != nullptr && member->is_string() ? &member->as_string() : nullptr;
}

std::optional<std::string> single_member_identity(const json::Value& record, std::string_view name) {
  const std::string* value = string_member(record, name);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::optional<std::string> author_identity(const json::Value& record) { return single_member_identity(record, "id"); }

std::optional<std::string> section_identity(const json::Value& record) {
  return single_member_identity(record, "section_hash");
}

std::optional<std::string> document_identity(const json::Value& record) {
  const std::string* hash = string_member(record, "line_hash");
  const std::string* file = string_member(record, "file");
  if (hash == nullptr || file == nullptr) return std::nullopt;
  // Length-prefixed so that no two pairs share a key, whatever bytes they hold.
  std::string key = std::to_string(hash->size());
  key.push_back(':');
  key.append(*hash);
  key.append(*file);
  return key;
}

}  // namespace

const LayerIdentity kAuthorIdentity{store::kAuthorsLayer, author_identity, "id"};
const LayerIdentity kSectionIdentity{store::kSectionsLayer, section_identity, "section_hash"};
const LayerIdentity kDocumentIdentity{store::kDocumentIndexLayer, document_identity, "line_hash"};

base::Result<LayerMergeCounts> merge_layer(std::string_view source, std::string_view target,
                                           const LayerIdentity& kind) {
  std::unordered_set<std::string> held;
  ZR_RETURN_IF_ERROR(for_each_layer_record(target, kind.layer, [&](const json::Value& record) {
    if (std::optional<std::string> id = kind.identity(record)) held.insert(std::move(*id));
    return base::Status();
  }));

  LayerMergeCounts counts;
  BatchedAppender appender;
  ZR_RETURN_IF_ERROR(for_each_layer_record(source, kind.layer, [&](const json::Value& record) {
    std::optional<std::string> id = kind.identity(record);
    if (!id) {
      ++counts.skipped;
      return base::Status();
    }
    // A key that cannot name a shard would make a path outside the layer.
    base::Result<std::string> shard = store::shard_path(target, kind.layer, *string_member(record, kind.shard_member));
    if (!shard.ok() || !held.insert(std::move(*id)).second) {
      ++counts.skipped;
      return base::Status();
    }
    ++counts.added;
    return appender.AddRecord(*shard, record);
  }));
  ZR_RETURN_IF_ERROR(appender.Flush());
  return counts;
}

}  // namespace zr::removal
