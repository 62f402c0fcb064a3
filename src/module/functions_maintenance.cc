// Functions of purge reversal, housekeeping and store merge.
#include "module/function_table.h"
#include "module/python_stdout.h"
#include "module/to_python.h"
#include "removal/clean.h"
#include "removal/purge_reverse.h"
#include "removal/store_merge.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* purge_reverse_fn(const Args& a) {
  // Without an archive the call prints to the process's standard output;
  // what the caller printed before must come out first.
  if (!flush_python_stdout()) return nullptr;
  base::Result<uint64_t> r = removal::purge_reverse(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_u64(*r);
}

PyObject* clean_fn(const Args& a) {
  base::Result<removal::CleanCounts> r = removal::clean(a.str(0), a.flag(1));
  if (!r.ok()) return raise_status(r.status());
  return py_counts({{"document_merged", r->document_merged},
                    {"pid_files_deleted", r->pid_files_deleted},
                    {"archived_records", r->archived_records},
                    {"log_rotated", r->log_rotated},
                    {"token_index_merged", r->token_index_merged},
                    {"token_index_pid_deleted", r->token_index_pid_deleted}});
}

PyObject* merge_absorb_fn(const Args& a) {
  base::Result<removal::StoreMergeCounts> r = removal::merge_absorb(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_counts({{"authors_added", r->authors_added},
                    {"sections_added", r->sections_added},
                    {"document_added", r->document_added},
                    {"token_index_added", r->token_index_added},
                    {"skipped", r->skipped}});
}

}  // namespace

std::vector<FunctionRecord> maintenance_functions() {
  return {
      {"purge_reverse", "purge_reverse(zr_dir, data_file)", nullptr,
       {Required("zr_dir", K::kStr), Required("data_file", K::kStr)}, purge_reverse_fn},
      {"clean", "clean(zr_dir, split)", nullptr, {Required("zr_dir", K::kStr), Required("split", K::kBool)}, clean_fn},
      {"merge_absorb", "merge_absorb(source, target)", nullptr,
       {Required("source", K::kStr), Required("target", K::kStr)}, merge_absorb_fn},
  };
}

}  // namespace zr::module
