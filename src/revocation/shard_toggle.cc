#include "revocation/shard_toggle.h"

#include <vector>

#include "revocation/revoked_mark.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::revocation {

std::string shard_text(const std::vector<json::Value>& records) {
  std::string text;
  for (const json::Value& record : records) {
    json::append_compact(text, record);
    text.push_back('\n');
  }
  return text;
}

uint64_t toggle_revoked_in_records(std::vector<json::Value>& records, const RecordMatch& match) {
  uint64_t toggled = 0;
  for (json::Value& record : records) {
    if (!match(record)) continue;
    bool mark = toggled_mark(record);
    if (record.is_object()) record.set(std::string(kRevokedMember), json::Value::Bool(mark));
    ++toggled;
  }
  return toggled;
}

base::Status prepare_shard_rewrite(std::string_view zr_dir, const std::string& shard_path,
                                   const std::vector<json::Value>& records, base::ReplacementBatch& batch) {
  ZR_ASSIGN_OR_RETURN(base::FileReplacement replacement,
                      base::FileReplacement::Create(shard_path, store::store_dir(zr_dir), base::kReplacementTempPrefix));
  ZR_RETURN_IF_ERROR(replacement.Write(shard_text(records)));
  return batch.Add(std::move(replacement), base::new_file_mode());
}

base::Result<ShardToggle> toggle_revoked_in_shard(std::string_view zr_dir, const std::string& shard_path,
                                                  const RecordMatch& match, RewritePolicy policy) {
  ShardToggle outcome;
  ZR_ASSIGN_OR_RETURN(base::PathKind shard_kind, base::path_kind(shard_path));
  if (shard_kind == base::PathKind::kMissing) return outcome;
  outcome.present = true;
  ZR_ASSIGN_OR_RETURN(std::vector<json::Value> records, store::jsonl_read(shard_path));
  outcome.toggled = toggle_revoked_in_records(records, match);
  if (policy == RewritePolicy::kAlways || outcome.toggled > 0) {
    ZR_RETURN_IF_ERROR(base::replace_file_atomically(shard_path, shard_text(records), store::store_dir(zr_dir)));
  }
  return outcome;
}

}  // namespace zr::revocation
