// Functions of the store primitives: initialisation, JSON Lines and shards,
// hashing and the operation log.
#include "module/function_table.h"
#include "store/content_hash.h"
#include "store/init.h"
#include "store/jsonl.h"
#include "store/oplog.h"
#include "store/shard.h"
#include "store/store_paths.h"

namespace zr::module {

std::vector<FunctionRecord> store_functions() {
  return {
      function("init", params(Param<Str>("zr_dir")), store::init_store),
      function("jsonl_read", params(Param<Str>("path")), store::jsonl_read),
      function("jsonl_append", params(Param<Str>("path"), Param<Json>("record")), store::jsonl_append),
      function("shard_path_str", params(Param<Str>("zr_dir"), Param<Str>("layer"), Param<Str>("hash_hex")),
               store::shard_path),
      function("shard_read", params(Param<Str>("zr_dir"), Param<Str>("layer"), Param<Str>("hash_hex")),
               store::shard_read),
      function("shard_iterate_all", params(Param<Str>("zr_dir"), Param<Str>("layer")), store::shard_iterate_all),
      function("compute_hash", params(Param<JsonCompact>("data")), store::sha256_hex),
      function("oplog_append", params(Param<Str>("zr_dir"), Param<Str>("operation"), Param<Str>("detail")),
               store::oplog_append),
  };
}

}  // namespace zr::module
