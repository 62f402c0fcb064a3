// Functions of document tracking: the document index, track and blame, and
// the line diff that carries blame across versions of a file.
#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "module/document_records.h"
#include "module/function_table.h"
#include "module/to_python.h"
#include "tracking/document_index.h"
#include "tracking/line_diff.h"
#include "tracking/track.h"

namespace zr::module {

namespace {

using K = ArgKind;

// Owns one reference.
struct PyRef {
  PyObject* object = nullptr;
  PyRef() = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object); }
  PyObject* release() { return std::exchange(object, nullptr); }
};

// A list of (tag, i1, i2, j1, j2) tuples; the four tag strings are shared.
PyObject* py_opcodes(const std::vector<tracking::DiffOpcode>& opcodes) {
  using tracking::DiffTag;
  constexpr std::array<DiffTag, 4> kTags = {DiffTag::kEqual, DiffTag::kDelete, DiffTag::kInsert, DiffTag::kReplace};
  std::array<PyRef, 4> tags;
  for (DiffTag tag : kTags) {
    PyRef& name = tags[static_cast<size_t>(tag)];
    name.object = PyUnicode_InternFromString(tracking::diff_tag_name(tag));
    if (name.object == nullptr) return nullptr;
  }
  PyRef list;
  list.object = PyList_New(static_cast<Py_ssize_t>(opcodes.size()));
  if (list.object == nullptr) return nullptr;
  for (size_t i = 0; i < opcodes.size(); ++i) {
    const tracking::DiffOpcode& op = opcodes[i];
    PyObject* tuple = Py_BuildValue("(Onnnn)", tags[static_cast<size_t>(op.tag)].object,
                                    static_cast<Py_ssize_t>(op.i1), static_cast<Py_ssize_t>(op.i2),
                                    static_cast<Py_ssize_t>(op.j1), static_cast<Py_ssize_t>(op.j2));
    if (tuple == nullptr) return nullptr;
    PyList_SET_ITEM(list.object, static_cast<Py_ssize_t>(i), tuple);
  }
  return list.release();
}

PyObject* index_document_fn(const Args& a) {
  return py_none(tracking::index_document(a.str(0), a.str(1), a.str(2), a.strs(3), a.str(4)));
}

PyObject* lookup_document_fn(const Args& a) { return py_document_records(tracking::lookup_document(a.str(0), a.str(1))); }

PyObject* read_all_documents_fn(const Args& a) { return to_python(tracking::read_all_documents(a.str(0))); }

PyObject* track_fn(const Args& a) {
  std::optional<uint64_t> token_count;
  if (const uint64_t* count = a.opt_u64(4)) token_count = *count;
  std::optional<std::string_view> tokenizer;
  if (const std::string* name = a.opt_str(5)) tokenizer = *name;
  return to_python(tracking::track(a.json(0), a.str(1), a.strs(2), a.str(3), token_count, tokenizer));
}

PyObject* blame_fn(const Args& a) { return py_document_records(tracking::blame(a.str(0), a.str(1), a.str(2))); }

PyObject* blame_diff_fn(const Args& a) {
  return py_opcodes(tracking::blame_diff(a.str_views(0), a.str_views(1)));
}

constexpr const char* kBlameDiffDoc =
    "Compute line-level diff opcodes for blame attribution.\n\nReturns (tag, i1, i2, j1, j2) tuples compatible "
    "with\ndifflib.SequenceMatcher.get_opcodes().";

}  // namespace

std::vector<FunctionRecord> tracking_functions() {
  return {
      {"index_document", "index_document(zr_dir, line_hash, file, sources, source_type=\"track\")", nullptr,
       {Required("zr_dir", K::kStr), Required("line_hash", K::kStr), Required("file", K::kStr),
        Required("sources", K::kStrList), Defaulted("source_type", K::kStr, Arg(std::string("track")))},
       index_document_fn},
      {"lookup_document", "lookup_document(zr_dir, line_hash)", nullptr,
       {Required("zr_dir", K::kStr), Required("line_hash", K::kStr)}, lookup_document_fn},
      {"read_all_documents", "read_all_documents(zr_dir)", nullptr, {Required("zr_dir", K::kStr)},
       read_all_documents_fn},
      {"track", "track(data, file, sources, zr_dir, token_count=None, tokenizer=None)", nullptr,
       {JsonLast("data"), Required("file", K::kStr), Required("sources", K::kStrList), Required("zr_dir", K::kStr),
        Optional("token_count", K::kU64), Optional("tokenizer", K::kStr)},
       track_fn},
      {"blame", "blame(zr_dir, file, line_content)", nullptr,
       {Required("zr_dir", K::kStr), Required("file", K::kStr), Required("line_content", K::kStr)}, blame_fn},
      {"blame_diff", "blame_diff(old_lines, new_lines)", kBlameDiffDoc,
       {Required("old_lines", K::kStrListView), Required("new_lines", K::kStrListView)}, blame_diff_fn},
  };
}

}  // namespace zr::module
