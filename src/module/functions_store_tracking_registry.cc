// Functions of what the store records: its primitives (initialisation, JSON
// Lines and shards, hashing and the operation log), document tracking (the
// document index, track and blame, and the line diff that carries blame
// across versions of a file), and the author and section registries.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "module/function_record.h"
#include "registry/author.h"
#include "registry/author_registry.h"
#include "registry/section_registry.h"
#include "store/content_hash.h"
#include "store/init.h"
#include "store/jsonl.h"
#include "store/oplog.h"
#include "store/shard.h"
#include "store/store_paths.h"
#include "tracking/document_index.h"
#include "tracking/line_diff.h"
#include "tracking/track.h"

namespace zr::module {

std::vector<FunctionRecord> store_functions() {
  return {
      function("init", params(Param<Str>("zr_dir")), store::init_store),
      function("jsonl_read", params(Param<Str>("path")), store::jsonl_read),
      function("jsonl_append", params(Param<Str>("path"), Param<Json>("record")), store::jsonl_append),
      function("shard_path_str", params(Param<Str>("zr_dir"), Param<Str>("layer"), Param<Str>("hash_hex")),
               store::shard_path),
      function("shard_read", params(Param<Str>("zr_dir"), Param<Str>("layer"), Param<Str>("hash_hex")),
               store::shard_read),
      function("shard_iterate_all", params(Param<Str>("zr_dir"), Param<Str>("layer")), store::shard_iterate_all),
      function("compute_hash", params(Param<JsonCompact>("data")), store::sha256_hex),
      function("oplog_append", params(Param<Str>("zr_dir"), Param<Str>("operation"), Param<Str>("detail")),
               store::oplog_append),
  };
}

namespace {

// A list of (tag, i1, i2, j1, j2) tuples; the four tag strings are shared.
PyObject* py_opcodes(const std::vector<tracking::DiffOpcode>& opcodes) {
  using tracking::DiffTag;
  constexpr std::array<DiffTag, 4> kTags = {DiffTag::kEqual, DiffTag::kDelete, DiffTag::kInsert, DiffTag::kReplace};
  std::array<PyRef, 4> tags;
  for (DiffTag tag : kTags) {
    PyRef& name = tags[static_cast<size_t>(tag)];
    name.reset(PyUnicode_InternFromString(tracking::diff_tag_name(tag)));
    if (!name) return nullptr;
  }
  return py_list(opcodes, [&](const tracking::DiffOpcode& op) {
    return Py_BuildValue("(Onnnn)", tags[static_cast<size_t>(op.tag)].get(), static_cast<Py_ssize_t>(op.i1),
                         static_cast<Py_ssize_t>(op.i2), static_cast<Py_ssize_t>(op.j1),
                         static_cast<Py_ssize_t>(op.j2));
  });
}

std::vector<tracking::DiffOpcode> blame_diff(const BorrowedStrs& old_lines, const BorrowedStrs& new_lines) {
  return tracking::blame_diff(old_lines.views(), new_lines.views());
}

constexpr const char* kBlameDiffDoc =
    "Compute line-level diff opcodes for blame attribution.\n\nReturns (tag, i1, i2, j1, j2) tuples compatible "
    "with\ndifflib.SequenceMatcher.get_opcodes().";

}  // namespace

std::vector<FunctionRecord> tracking_functions() {
  return {
      function("index_document",
               params(Param<Str>("zr_dir"), Param<Str>("line_hash"), Param<Str>("file"), Param<StrList>("sources"),
                      Param<Str>("source_type", "track")),
               tracking::index_document),
      function("lookup_document", params(Param<Str>("zr_dir"), Param<Str>("line_hash")), tracking::lookup_document,
               py_document_records),
      function("read_all_documents", params(Param<Str>("zr_dir")), tracking::read_all_documents),
      // `data` is converted last: a line whose other arguments are wrong is
      // refused before json.dumps runs on it.
      function("track",
               params(Param<JsonCompact>("data").converted_last(), Param<Str>("file"), Param<StrList>("sources"),
                      Param<Str>("zr_dir"), Param<OptionalU64>("token_count", None),
                      Param<OptionalStr>("tokenizer", None)),
               tracking::track),
      function("blame", params(Param<Str>("zr_dir"), Param<Str>("file"), Param<Str>("line_content")), tracking::blame,
               py_document_records),
      function("blame_diff", params(Param<StrListView>("old_lines"), Param<StrListView>("new_lines")), blame_diff,
               py_opcodes, kBlameDiffDoc),
  };
}

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
