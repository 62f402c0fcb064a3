// Functions of the queries: the attribution index (building it, and the
// queries by author, licence and section) and the token index.
#include <array>
#include <string>

#include "index/attribution_queries.h"
#include "index/index_build.h"
#include "module/function_record.h"
#include "token_index/author_tokens.h"
#include "token_index/forget_set.h"
#include "token_index/forget_set_file.h"
#include "token_index/merge_pid_files.h"
#include "token_index/pid_file.h"
#include "token_index/toggle_matching.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_status.h"

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

namespace {

PyObject* py_merge_counts(const token_index::MergeCounts& c) { return py_u64_pair(c.records_merged, c.files_handled); }

PyObject* py_token_status(const token_index::TokenStatus& s) {
  return py_counts({{"total_entries", s.total_entries},
                    {"active_entries", s.active_entries},
                    {"revoked_entries", s.revoked_entries},
                    {"total_tokens", s.total_tokens}});
}

PyObject* py_index_counts(const token_index::BinaryIndexCounts& c) {
  return py_str("entries=" + std::to_string(c.entries) + ", sources=" + std::to_string(c.sources));
}

// The forget set's bits, held in a std::string.
PyObject* py_bitmask(const std::string& bits) { return py_bytes(bits); }

base::Status write_forget_set_bytes(const std::string& path, const Bytes& bitmask) {
  return token_index::write_forget_set(
      path, std::string_view(reinterpret_cast<const char*>(bitmask.data()), bitmask.size()));
}

// Sets dict[key] = value, taking over the reference to value; false on failure.
bool set_item(PyObject* dict, PyObject* key, PyObject* value) {
  PyRef owned(value);
  return owned && PyDict_SetItem(dict, key, owned.get()) == 0;
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
  PyRef owned(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

// Entries as the dicts the JSON-to-Python rule gives their objects: keys in
// byte order, a count above 2^63 - 1 as a float. Built directly, without a
// JSON tree, because an author can have many thousands of entries.
PyObject* py_entry_dicts(const std::vector<token_index::TokenIndexEntry>& entries) {
  static constexpr const char* kNames[4] = {"revoked", "sources", "token_count", "tokenizer"};
  std::array<PyRef, 4> keys;
  for (size_t i = 0; i < keys.size(); ++i) {
    keys[i].reset(PyUnicode_InternFromString(kNames[i]));
    if (!keys[i]) return nullptr;
  }
  return py_list(entries, [&](const token_index::TokenIndexEntry& entry) -> PyObject* {
    PyRef dict(PyDict_New());
    if (!dict || !set_item(dict.get(), keys[0].get(), PyBool_FromLong(entry.revoked)) ||
        !set_item(dict.get(), keys[1].get(), py_str_list(entry.sources)) ||
        !set_item(dict.get(), keys[2].get(), py_json_unsigned(entry.token_count)) ||
        !set_item(dict.get(), keys[3].get(), py_str(entry.tokenizer))) {
      return nullptr;
    }
    return dict.release();
  });
}

PyObject* py_author_tokens(const token_index::TokenQueryResult& r) {
  PyRef entries(py_entry_dicts(r.entries));
  if (!entries) return nullptr;
  // Keys in this order, not sorted: callers print the dict as it comes.
  PyRef dict(PyDict_New());
  if (!dict || !set_item(dict.get(), "total_tokens", py_u64(r.total_tokens)) ||
      !set_item(dict.get(), "document_count", py_u64(r.document_count)) ||
      !set_item(dict.get(), "entries", entries.release())) {
    return nullptr;
  }
  return dict.release();
}

}  // namespace

std::vector<FunctionRecord> token_index_functions() {
  return {
      function("token_index_write_pid",
               params(Param<Str>("zr_dir"), Param<Str>("tokenizer"), Param<U64>("token_count"),
                      Param<StrList>("sources")),
               token_index::token_index_write_pid),
      function("token_index_merge_pid_files", params(Param<Str>("zr_dir"), Param<Str>("tokenizer")),
               token_index::token_index_merge_pid_files, py_merge_counts),
      function("token_index_token_status", params(Param<Str>("zr_dir"), Param<Str>("tokenizer")),
               token_index::token_index_token_status, py_token_status),
      function("token_index_list_tokenizers", params(Param<Str>("zr_dir")), token_index::token_index_list_tokenizers),
      function("token_index_revoke_by_sources",
               params(Param<Str>("zr_dir"), Param<Str>("tokenizer"), Param<StrSet>("target_sources")),
               token_index::token_index_revoke_by_sources),
      function("token_index_build_binary_index", params(Param<Str>("zr_dir"), Param<Str>("tokenizer")),
               token_index::token_index_build_binary_index, py_index_counts),
      function("generate_forget_set", params(Param<Str>("zr_dir"), Param<Str>("tokenizer")), token_index::generate_forget_set,
               py_bitmask),
      function("write_forget_set", params(Param<Str>("path"), Param<BytesLike>("bitmask")),
               write_forget_set_bytes),
      function("show_by_author_token",
               params(Param<Str>("zr_dir"), Param<Str>("author_name"), Param<Str>("tokenizer")), token_index::show_by_author_token,
               py_author_tokens),
  };
}

}  // namespace zr::module
