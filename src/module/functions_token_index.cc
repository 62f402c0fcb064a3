// Functions of the token index.
#include <array>
#include <string>

#include "module/function_table.h"
#include "module/to_python.h"
#include "store/json_value.h"
#include "token_index/author_tokens.h"
#include "token_index/token_bin_build.h"
#include "token_index/forget_set.h"
#include "token_index/merge_pid_files.h"
#include "token_index/pid_file.h"
#include "token_index/toggle_matching.h"
#include "token_index/token_status.h"

namespace zr::module {

namespace {

using K = ArgKind;

PyObject* token_index_write_pid_fn(const Args& a) {
  return py_none(token_index::token_index_write_pid(a.str(0), a.str(1), a.u64(2), a.strs(3)));
}

PyObject* token_index_merge_pid_files_fn(const Args& a) {
  base::Result<token_index::MergeCounts> r = token_index::token_index_merge_pid_files(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_u64_pair(r->records_merged, r->files_handled);
}

PyObject* token_index_token_status_fn(const Args& a) {
  base::Result<token_index::TokenStatus> r = token_index::token_index_token_status(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_counts({{"total_entries", r->total_entries},
                    {"active_entries", r->active_entries},
                    {"revoked_entries", r->revoked_entries},
                    {"total_tokens", r->total_tokens}});
}

PyObject* token_index_list_tokenizers_fn(const Args& a) {
  base::Result<std::vector<std::string>> r = token_index::token_index_list_tokenizers(a.str(0));
  if (!r.ok()) return raise_status(r.status());
  return py_str_list(*r);
}

PyObject* token_index_revoke_by_sources_fn(const Args& a) {
  base::Result<uint64_t> r = token_index::token_index_revoke_by_sources(a.str(0), a.str(1), a.strs(2));
  if (!r.ok()) return raise_status(r.status());
  return py_u64(*r);
}

PyObject* token_index_build_binary_index_fn(const Args& a) {
  base::Result<token_index::BinaryIndexCounts> r = token_index::token_index_build_binary_index(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_str("entries=" + std::to_string(r->entries) + ", sources=" + std::to_string(r->sources));
}

PyObject* generate_forget_set_fn(const Args& a) {
  base::Result<std::string> r = token_index::generate_forget_set(a.str(0), a.str(1));
  if (!r.ok()) return raise_status(r.status());
  return py_bytes(*r);
}

PyObject* write_forget_set_fn(const Args& a) {
  const Bytes& mask = a.bytes(1);
  return py_none(token_index::write_forget_set(
      a.str(0), std::string_view(reinterpret_cast<const char*>(mask.data()), mask.size())));
}

// Sets dict[key] = value and drops the reference to value; false on failure.
bool set_item(PyObject* dict, PyObject* key, PyObject* value) {
  if (value == nullptr) return false;
  int rc = PyDict_SetItem(dict, key, value);
  Py_DECREF(value);
  return rc == 0;
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
  if (value == nullptr) return false;
  int rc = PyDict_SetItemString(dict, key, value);
  Py_DECREF(value);
  return rc == 0;
}

// An entry as the dict the JSON-to-Python rule gives its object: keys in
// byte order, a count above 2^63 - 1 as a float. Built directly, without a
// JSON tree, because an author can have many thousands of entries.
class EntryDicts {
 public:
  EntryDicts() {
    for (size_t i = 0; i < keys_.size(); ++i) keys_[i] = PyUnicode_InternFromString(kNames[i]);
  }
  ~EntryDicts() {
    for (PyObject* key : keys_) Py_XDECREF(key);
  }
  EntryDicts(const EntryDicts&) = delete;
  EntryDicts& operator=(const EntryDicts&) = delete;

  PyObject* dict(const token_index::TokenIndexEntry& entry) const {
    for (PyObject* key : keys_) {
      if (key == nullptr) return nullptr;
    }
    PyObject* dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    if (!set_item(dict, keys_[0], PyBool_FromLong(entry.revoked)) ||
        !set_item(dict, keys_[1], py_str_list(entry.sources)) ||
        !set_item(dict, keys_[2], py_json(json::Value::Unsigned(entry.token_count))) ||
        !set_item(dict, keys_[3], py_str(entry.tokenizer))) {
      Py_DECREF(dict);
      return nullptr;
    }
    return dict;
  }

 private:
  static constexpr const char* kNames[4] = {"revoked", "sources", "token_count", "tokenizer"};
  std::array<PyObject*, 4> keys_{};
};

PyObject* show_by_author_token_fn(const Args& a) {
  base::Result<token_index::TokenQueryResult> r = token_index::show_by_author_token(a.str(0), a.str(1), a.str(2));
  if (!r.ok()) return raise_status(r.status());
  PyObject* entries = PyList_New(static_cast<Py_ssize_t>(r->entries.size()));
  if (entries == nullptr) return nullptr;
  EntryDicts dicts;
  for (size_t i = 0; i < r->entries.size(); ++i) {
    PyObject* item = dicts.dict(r->entries[i]);
    if (item == nullptr) {
      Py_DECREF(entries);
      return nullptr;
    }
    PyList_SET_ITEM(entries, static_cast<Py_ssize_t>(i), item);
  }
  // Keys in this order, not sorted: callers print the dict as it comes.
  PyObject* dict = PyDict_New();
  if (dict == nullptr || !set_item(dict, "total_tokens", py_u64(r->total_tokens)) ||
      !set_item(dict, "document_count", py_u64(r->document_count))) {
    Py_DECREF(entries);
    Py_XDECREF(dict);
    return nullptr;
  }
  if (!set_item(dict, "entries", entries)) {
    Py_DECREF(dict);
    return nullptr;
  }
  return dict;
}

}  // namespace

std::vector<FunctionRecord> token_index_functions() {
  return {
      {"token_index_write_pid", "token_index_write_pid(zr_dir, tokenizer, token_count, sources)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr), Required("token_count", K::kU64),
        Required("sources", K::kStrList)},
       token_index_write_pid_fn},
      {"token_index_merge_pid_files", "token_index_merge_pid_files(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       token_index_merge_pid_files_fn},
      {"token_index_token_status", "token_index_token_status(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       token_index_token_status_fn},
      {"token_index_list_tokenizers", "token_index_list_tokenizers(zr_dir)", nullptr,
       {Required("zr_dir", K::kStr)},
       token_index_list_tokenizers_fn},
      {"token_index_revoke_by_sources", "token_index_revoke_by_sources(zr_dir, tokenizer, target_sources)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr), Required("target_sources", K::kStrSet)},
       token_index_revoke_by_sources_fn},
      {"token_index_build_binary_index", "token_index_build_binary_index(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       token_index_build_binary_index_fn},
      {"generate_forget_set", "generate_forget_set(zr_dir, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("tokenizer", K::kStr)},
       generate_forget_set_fn},
      {"write_forget_set", "write_forget_set(path, bitmask)", nullptr,
       {Required("path", K::kStr), Required("bitmask", K::kBytesLike)},
       write_forget_set_fn},
      {"show_by_author_token", "show_by_author_token(zr_dir, author_name, tokenizer)", nullptr,
       {Required("zr_dir", K::kStr), Required("author_name", K::kStr), Required("tokenizer", K::kStr)},
       show_by_author_token_fn},
  };
}

}  // namespace zr::module
