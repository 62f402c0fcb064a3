// Functions of purge reversal, housekeeping and store merge.
#include <string>

#include "module/function_table.h"
#include "module/python_stdout.h"
#include "maintenance/clean.h"
#include "purge/purge_reverse.h"
#include "maintenance/store_merge.h"

namespace zr::module {

namespace {

// Without an archive the call prints to the process's standard output; what
// the caller printed before must come out first.
UnlessRaised<base::Result<uint64_t>> purge_reverse(const std::string& zr_dir, const std::string& data_file) {
  if (!flush_python_stdout()) return {};
  return {purge::purge_reverse(zr_dir, data_file)};
}

PyObject* py_clean_counts(const maintenance::CleanCounts& c) {
  return py_counts({{"document_merged", c.document_merged},
                    {"pid_files_deleted", c.pid_files_deleted},
                    {"archived_records", c.archived_records},
                    {"log_rotated", c.log_rotated},
                    {"token_index_merged", c.token_index_merged},
                    {"token_index_pid_deleted", c.token_index_pid_deleted}});
}

PyObject* py_merge_counts(const maintenance::StoreMergeCounts& c) {
  return py_counts({{"authors_added", c.authors_added},
                    {"sections_added", c.sections_added},
                    {"document_added", c.document_added},
                    {"token_index_added", c.token_index_added},
                    {"skipped", c.skipped}});
}

}  // namespace

std::vector<FunctionRecord> maintenance_functions() {
  return {
      function("purge_reverse", params(Param<Str>("zr_dir"), Param<Str>("data_file")), purge_reverse),
      function("clean", params(Param<Str>("zr_dir"), Param<Bool>("split")), maintenance::clean, py_clean_counts),
      function("merge_absorb", params(Param<Str>("source"), Param<Str>("target")), maintenance::merge_absorb,
               py_merge_counts),
  };
}

}  // namespace zr::module
