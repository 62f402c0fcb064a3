// Functions of the attribution index: building it, and the queries by
// author, licence and section.
#include <vector>

#include "index/attribution_queries.h"
#include "index/index_build.h"
#include "module/document_records.h"
#include "module/function_table.h"
#include "module/to_python.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* build_index_fn(const Args& a) {
  base::Result<index::IndexBuildCounts> r = index::build_index(a.str(0));
  if (!r.ok()) return raise_status(r.status());
  return py_counts({{"authors", r->authors},
                    {"sections", r->sections},
                    {"total", r->total},
                    {"token_index_entries", r->token_index_entries}});
}

PyObject* show_by_author_fn(const Args& a) { return py_document_records(index::show_by_author(a.str(0), a.str(1))); }

PyObject* show_by_license_fn(const Args& a) { return py_document_records(index::show_by_license(a.str(0), a.str(1))); }

PyObject* show_by_section_fn(const Args& a) { return py_document_records(index::show_by_section(a.str(0), a.str(1))); }

}  // namespace

std::vector<FunctionRecord> index_functions() {
  return {
      {"build_index", "build_index(zr_dir)", nullptr, {Required("zr_dir", K::kStr)}, build_index_fn},
      {"show_by_author", "show_by_author(zr_dir, author_name)", nullptr,
       {Required("zr_dir", K::kStr), Required("author_name", K::kStr)}, show_by_author_fn},
      {"show_by_license", "show_by_license(zr_dir, license)", nullptr,
       {Required("zr_dir", K::kStr), Required("license", K::kStr)}, show_by_license_fn},
      {"show_by_section", "show_by_section(zr_dir, section_hash)", nullptr,
       {Required("zr_dir", K::kStr), Required("section_hash", K::kStr)}, show_by_section_fn},
  };
}

}  // namespace zr::module
