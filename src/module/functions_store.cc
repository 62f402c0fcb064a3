// Functions of the store primitives: initialisation, JSON Lines and shards,
// hashing and the operation log.
#include "module/function_table.h"

#include "module/to_python.h"
#include "store/content_hash.h"
#include "store/init.h"
#include "store/jsonl.h"
#include "store/oplog.h"
#include "store/shard.h"
#include "store/store_paths.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* init_fn(const Args& a) { return py_none(store::init_store(a.str(0))); }

PyObject* jsonl_read_fn(const Args& a) { return to_python(store::jsonl_read(a.str(0))); }

PyObject* jsonl_append_fn(const Args& a) { return py_none(store::jsonl_append(a.str(0), a.json(1))); }

PyObject* shard_path_str_fn(const Args& a) { return to_python(store::shard_path(a.str(0), a.str(1), a.str(2))); }

PyObject* shard_read_fn(const Args& a) { return to_python(store::shard_read(a.str(0), a.str(1), a.str(2))); }

PyObject* shard_iterate_all_fn(const Args& a) { return to_python(store::shard_iterate_all(a.str(0), a.str(1))); }

PyObject* compute_hash_fn(const Args& a) { return py_str(store::content_hash(a.json(0))); }

PyObject* oplog_append_fn(const Args& a) { return py_none(store::oplog_append(a.str(0), a.str(1), a.str(2))); }

}  // namespace

std::vector<FunctionRecord> store_functions() {
  return {
      {"init", "init(zr_dir)", nullptr, {Required("zr_dir", K::kStr)}, init_fn},
      {"jsonl_read", "jsonl_read(path)", nullptr, {Required("path", K::kStr)}, jsonl_read_fn},
      {"jsonl_append", "jsonl_append(path, record)", nullptr,
       {Required("path", K::kStr), Required("record", K::kJson)}, jsonl_append_fn},
      {"shard_path_str", "shard_path_str(zr_dir, layer, hash_hex)", nullptr,
       {Required("zr_dir", K::kStr), Required("layer", K::kStr), Required("hash_hex", K::kStr)}, shard_path_str_fn},
      {"shard_read", "shard_read(zr_dir, layer, hash_hex)", nullptr,
       {Required("zr_dir", K::kStr), Required("layer", K::kStr), Required("hash_hex", K::kStr)}, shard_read_fn},
      {"shard_iterate_all", "shard_iterate_all(zr_dir, layer)", nullptr,
       {Required("zr_dir", K::kStr), Required("layer", K::kStr)}, shard_iterate_all_fn},
      {"compute_hash", "compute_hash(data)", nullptr, {Required("data", K::kJson)}, compute_hash_fn},
      {"oplog_append", "oplog_append(zr_dir, operation, detail)", nullptr,
       {Required("zr_dir", K::kStr), Required("operation", K::kStr), Required("detail", K::kStr)}, oplog_append_fn},
  };
}

}  // namespace zr::module
