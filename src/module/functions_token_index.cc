// Functions of the token index.
#include <string>

#include "module/function_table.h"
#include "module/to_python.h"
#include "token_index/binary_index_build.h"
#include "token_index/merge_pid_files.h"
#include "token_index/pid_file.h"
#include "token_index/toggle_matching.h"
#include "token_index/token_status.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* token_index_write_pid_fn(const Args& a) {
  return py_none(token_index::token_index_write_pid(a.str(0), a.str(1), a.u64(2), a.strs(3)));
}

PyObject* token_index_merge_pid_files_fn(const Args& a) {
  Result<token_index::MergeCounts> r = token_index::token_index_merge_pid_files(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_u64_pair(r->records_merged, r->files_handled);
}

PyObject* token_index_token_status_fn(const Args& a) {
  Result<token_index::TokenStatus> r = token_index::token_index_token_status(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_counts({{"total_entries", r->total_entries},
                    {"active_entries", r->active_entries},
                    {"revoked_entries", r->revoked_entries},
                    {"total_tokens", r->total_tokens}});
}

PyObject* token_index_list_tokenizers_fn(const Args& a) {
  Result<std::vector<std::string>> r = token_index::token_index_list_tokenizers(a.str(0));
  if (!r.ok()) return raise_status(r.status());
  return py_str_list(*r);
}

PyObject* token_index_revoke_by_sources_fn(const Args& a) {
  Result<uint64_t> r = token_index::token_index_revoke_by_sources(a.str(0), a.str(1), a.strs(2));
  if (!r.ok()) return raise_status(r.status());
  return py_u64(*r);
}

PyObject* token_index_build_binary_index_fn(const Args& a) {
  Result<token_index::BinaryIndexCounts> r = token_index::token_index_build_binary_index(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_str("entries=" + std::to_string(r->entries) + ", sources=" + std::to_string(r->sources));
}

}  // namespace

std::vector<FunctionSpec> token_index_functions() {
  return {
      {"token_index_write_pid", "token_index_write_pid(zr_dir, tokenizer, token_count, sources)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr), Required("token_count", K::kU64),
        Required("sources", K::kStrList)},
       token_index_write_pid_fn},
      {"token_index_merge_pid_files", "token_index_merge_pid_files(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       token_index_merge_pid_files_fn},
      {"token_index_token_status", "token_index_token_status(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       token_index_token_status_fn},
      {"token_index_list_tokenizers", "token_index_list_tokenizers(zr_dir)", nullptr,
       {Required("zr_dir", K::kStr)},
       token_index_list_tokenizers_fn},
      {"token_index_revoke_by_sources", "token_index_revoke_by_sources(zr_dir, tokenizer, target_sources)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr), Required("target_sources", K::kStrSet)},
       token_index_revoke_by_sources_fn},
      {"token_index_build_binary_index", "token_index_build_binary_index(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       token_index_build_binary_index_fn},
  };
}

}  // namespace zr::module
