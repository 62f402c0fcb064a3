// Functions of the author and section registries.
#include <optional>
#include <string>
#include <vector>

#include "module/function_table.h"
#include "registry/author.h"
#include "registry/author_registry.h"
#include "registry/section_registry.h"

namespace zr::module {

namespace {

// Each author as the JSON text of its record.
PyObject* py_author_texts(const std::vector<registry::Author>& authors) {
  return py_list(authors, [](const registry::Author& author) { return py_str(registry::author_json(author)); });
}

base::Result<std::string> author_add(const std::string& name, const std::string& email, const std::string& zr_dir) {
  return registry::author_add(zr_dir, name, email);
}

base::Result<std::vector<registry::Author>> author_query(const std::string& zr_dir,
                                                         std::optional<std::string_view> name,
                                                         std::optional<std::string_view> email) {
  return registry::author_query(zr_dir, registry::AuthorFilter{name, email});
}

base::Result<std::string> register_section(const std::string& path, const std::vector<std::string>& authors,
                                           const std::vector<std::string>& contributors, const std::string& license,
                                           const std::string& year, const std::string& zr_dir) {
  return registry::register_section(zr_dir, path, authors, contributors, license, year);
}

}  // namespace

std::vector<FunctionRecord> registry_functions() {
  return {
      function("author_add", params(Param<Str>("name"), Param<Str>("email"), Param<Str>("zr_dir")), author_add),
      function("author_query", params(Param<Str>("zr_dir"), Param<OptionalStr>("name"), Param<OptionalStr>("email")),
               author_query, py_author_texts),
      function("register_section",
               params(Param<Str>("path"), Param<StrList>("authors"), Param<StrList>("contributors"),
                      Param<Str>("license"), Param<Str>("year"), Param<Str>("zr_dir")),
               register_section),
  };
}

}  // namespace zr::module
