// Functions of revocation and purge.
#include "module/function_table.h"
#include "purge/purge.h"
#include "revocation/revocation.h"

namespace zr::module {

namespace {

PyObject* py_purge_counts(const purge::PurgeCounts& c) {
  return py_counts({{"purged", c.purged}, {"kept", c.kept}, {"archived", c.archived}});
}

}  // namespace

std::vector<FunctionRecord> removal_functions() {
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
      function("purge_revoked", params(Param<Str>("zr_dir"), Param<Str>("data_file"), Param<Bool>("dry_run")),
               purge::purge_revoked, py_purge_counts),
      function("purge_by_author_indexd",
               params(Param<Str>("zr_dir"), Param<Str>("author_name"), Param<Str>("data_file"), Param<Bool>("dry_run")),
               purge::purge_by_author_indexd, py_purge_counts),
  };
}

}  // namespace zr::module
