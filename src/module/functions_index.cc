// Functions of the attribution index: building it, and the queries by
// author, licence and section.
#include "index/attribution_queries.h"
#include "index/index_build.h"
#include "module/document_records.h"
#include "module/function_table.h"

namespace zr::module {

namespace {

PyObject* py_build_counts(const index::IndexBuildCounts& c) {
  return py_counts({{"authors", c.authors},
                    {"sections", c.sections},
                    {"total", c.total},
                    {"token_index_entries", c.token_index_entries}});
}

}  // namespace

std::vector<FunctionRecord> index_functions() {
  return {
      function("build_index", params(Param<Str>("zr_dir")), index::build_index, py_build_counts),
      function("show_by_author", params(Param<Str>("zr_dir"), Param<Str>("author_name")), index::show_by_author,
               py_document_records),
      function("show_by_license", params(Param<Str>("zr_dir"), Param<Str>("license")), index::show_by_license,
               py_document_records),
      function("show_by_section", params(Param<Str>("zr_dir"), Param<Str>("section_hash")), index::show_by_section,
               py_document_records),
  };
}

}  // namespace zr::module
