// Functions of the author and section registries.
#include "module/function_table.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module/to_python.h"
#include "registry/author.h"
#include "registry/author_registry.h"
#include "registry/section_registry.h"

namespace zr::module {

namespace {

using K = ArgKind;

std::optional<std::string_view> optional_view(const std::string* s) {
  if (s == nullptr) return std::nullopt;
  return std::string_view(*s);
}

PyObject* author_add_fn(const Args& a) { return to_python(registry::author_add(a.str(2), a.str(0), a.str(1))); }

PyObject* author_query_fn(const Args& a) {
  registry::AuthorFilter filter{optional_view(a.opt_str(1)), optional_view(a.opt_str(2))};
  base::Result<std::vector<registry::Author>> authors = registry::author_query(a.str(0), filter);
  if (!authors.ok()) return raise_status(authors.status());
  std::vector<std::string> texts;
  texts.reserve(authors->size());
  for (const registry::Author& author : *authors) texts.push_back(registry::author_json(author));
  return py_str_list(texts);
}

PyObject* register_section_fn(const Args& a) {
  return to_python(registry::register_section(a.str(5), a.str(0), a.strs(1), a.strs(2), a.str(3), a.str(4)));
}

}  // namespace

std::vector<FunctionRecord> registry_functions() {
  return {
      {"author_add", "author_add(name, email, zr_dir)", nullptr,
       {Required("name", K::kStr), Required("email", K::kStr), Required("zr_dir", K::kStr)}, author_add_fn},
      {"author_query", "author_query(zr_dir, name, email)", nullptr,
       {Required("zr_dir", K::kStr), Nullable("name", K::kStr), Nullable("email", K::kStr)}, author_query_fn},
      {"register_section", "register_section(path, authors, contributors, license, year, zr_dir)", nullptr,
       {Required("path", K::kStr), Required("authors", K::kStrList), Required("contributors", K::kStrList),
        Required("license", K::kStr), Required("year", K::kStr), Required("zr_dir", K::kStr)},
       register_section_fn},
  };
}

}  // namespace zr::module
