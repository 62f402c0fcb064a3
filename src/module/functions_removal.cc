// Functions of revocation and purge.
#include "module/function_table.h"
#include "module/to_python.h"
#include "removal/purge.h"
#include "removal/revocation.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* count_result(const base::Result<uint64_t>& r) {
  if (!r.ok()) return raise_status(r.status());
  return py_u64(*r);
}

PyObject* purge_result(const base::Result<removal::PurgeCounts>& r) {
  if (!r.ok()) return raise_status(r.status());
  return py_counts({{"purged", r->purged}, {"kept", r->kept}, {"archived", r->archived}});
}

PyObject* revoke_section_fn(const Args& a) { return count_result(removal::revoke_section(a.str(0), a.str(1), a.flag(2))); }

PyObject* revoke_manifest_fn(const Args& a) {
  return count_result(removal::revoke_manifest(a.str(0), a.str(1), a.str(2), a.flag(3)));
}

PyObject* revoke_by_author_fn(const Args& a) {
  return count_result(removal::revoke_by_author(a.str(0), a.str(1), a.flag(2)));
}

PyObject* revoke_by_author_token_fn(const Args& a) {
  return count_result(removal::revoke_by_author_token(a.str(0), a.str(1), a.str(2), a.flag(3)));
}

PyObject* purge_revoked_fn(const Args& a) { return purge_result(removal::purge_revoked(a.str(0), a.str(1), a.flag(2))); }

PyObject* purge_by_author_indexd_fn(const Args& a) {
  return purge_result(removal::purge_by_author_indexd(a.str(0), a.str(1), a.str(2), a.flag(3)));
}

}  // namespace

std::vector<FunctionRecord> removal_functions() {
  return {
      {"revoke_section", "revoke_section(zr_dir, section_hash, reverse=False)", nullptr,
       {Required("zr_dir", K::kStr), Required("section_hash", K::kStr), Defaulted("reverse", K::kBool, Arg(false))},
       revoke_section_fn},
      {"revoke_manifest", "revoke_manifest(zr_dir, line_hash, file, reverse=False)", nullptr,
       {Required("zr_dir", K::kStr), Required("line_hash", K::kStr), Required("file", K::kStr),
        Defaulted("reverse", K::kBool, Arg(false))},
       revoke_manifest_fn},
      {"revoke_by_author", "revoke_by_author(zr_dir, author_name, reverse=False)", nullptr,
       {Required("zr_dir", K::kStr), Required("author_name", K::kStr), Defaulted("reverse", K::kBool, Arg(false))},
       revoke_by_author_fn},
      {"revoke_by_author_token", "revoke_by_author_token(zr_dir, author_name, tokenizer, reverse=False)", nullptr,
       {Required("zr_dir", K::kStr), Required("author_name", K::kStr), Required("tokenizer", K::kStr),
        Defaulted("reverse", K::kBool, Arg(false))},
       revoke_by_author_token_fn},
      {"purge_revoked", "purge_revoked(zr_dir, data_file, dry_run)", nullptr,
       {Required("zr_dir", K::kStr), Required("data_file", K::kStr), Required("dry_run", K::kBool)},
       purge_revoked_fn},
      {"purge_by_author_indexd", "purge_by_author_indexd(zr_dir, author_name, data_file, dry_run)", nullptr,
       {Required("zr_dir", K::kStr), Required("author_name", K::kStr), Required("data_file", K::kStr),
        Required("dry_run", K::kBool)},
       purge_by_author_indexd_fn},
  };
}

}  // namespace zr::module
