// Functions that take lines back and tidy up after them: revocation, purge
// and its reversal, and the housekeeping and store merge of maintenance.
#include <Python.h>

#include <string>

#include "maintenance/clean.h"
#include "maintenance/store_merge.h"
#include "module/function_record.h"
#include "purge/purge.h"
#include "purge/reverse.h"
#include "revocation/revocation.h"

namespace zr::module {

std::vector<FunctionRecord> revocation_functions() {
  return {
      function("revoke_section",
               params(Param<Str>("zr_dir"), Param<Str>("section_hash"), Param<Bool>("reverse", false)),
               revocation::revoke_section),
      function("revoke_manifest",
               params(Param<Str>("zr_dir"), Param<Str>("line_hash"), Param<Str>("file"), Param<Bool>("reverse", false)),
               revocation::revoke_manifest),
      function("revoke_by_author",
               params(Param<Str>("zr_dir"), Param<Str>("author_name"), Param<Bool>("reverse", false)),
               revocation::revoke_by_author),
      function("revoke_by_author_token",
               params(Param<Str>("zr_dir"), Param<Str>("author_name"), Param<Str>("tokenizer"),
                      Param<Bool>("reverse", false)),
               revocation::revoke_by_author_token),
  };
}

namespace {

PyObject* py_purge_counts(const purge::PurgeCounts& c) {
  return py_counts({{"purged", c.purged}, {"kept", c.kept}, {"archived", c.archived}});
}

// Flushes Python's own sys.stdout, so that what the caller printed before a
// call reaches file descriptor 1 before anything the call itself writes
// there. A missing or None sys.stdout needs nothing; an ordinary exception
// from its flush is dropped, since the call's own output does not depend on
// it. Returns false, with the exception left set, only for a BaseException
// that is no ordinary error (a KeyboardInterrupt raised while flushing).
bool flush_python_stdout() {
  PyObject* out = PySys_GetObject("stdout");  // borrowed
  if (out == nullptr || out == Py_None) return true;
  PyRef owned = PyRef::borrow(out);  // flush() may rebind sys.stdout and drop the last reference
  if (PyRef(PyObject_CallMethod(out, "flush", nullptr))) return true;
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
  PyErr_Clear();
  return true;
}

// Without an archive the call prints to the process's standard output; what
// the caller printed before must come out first.
UnlessRaised<base::Result<uint64_t>> purge_reverse(const std::string& zr_dir, const std::string& data_file) {
  if (!flush_python_stdout()) return {};
  return {purge::purge_reverse(zr_dir, data_file)};
}

}  // namespace

// The reversal of a purge is registered with maintenance (see
// maintenance_functions below), after the token index, where the module has
// always listed it.
std::vector<FunctionRecord> purge_functions() {
  return {
      function("purge_revoked", params(Param<Str>("zr_dir"), Param<Str>("data_file"), Param<Bool>("dry_run")),
               purge::purge_revoked, py_purge_counts),
      function("purge_by_author_indexd",
               params(Param<Str>("zr_dir"), Param<Str>("author_name"), Param<Str>("data_file"), Param<Bool>("dry_run")),
               purge::purge_by_author_indexd, py_purge_counts),
  };
}

namespace {

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
