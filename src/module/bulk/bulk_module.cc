// The extension module _zr_bulk: tracking many raw lines in one call. It is
// a module of its own so that _zr_native keeps exactly its set of functions;
// it binds its function through the same records, conversions and binder.
#include <Python.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "module/bulk/interpreter_released.h"
#include "module/bulk/line_kinds.h"
#include "module/bulk/range_merge_functions.h"
#include "module/call_binding.h"
#include "module/function_record.h"
#include "module/to_python.h"
#include "tracking/track_batch.h"

namespace zr::module {
namespace {

UnlessRaised<base::Result<tracking::LineHashes>> track_lines(const BorrowedLines& lines, const std::string& file,
                                     const std::vector<std::string>& sources, const std::string& zr_dir,
                                     const std::optional<std::vector<std::optional<uint64_t>>>& token_counts,
                                     const std::optional<std::string>& tokenizer) {
  static const std::vector<std::optional<uint64_t>> kNoCounts;
  if (token_counts && token_counts->size() != lines.batch.size()) {
    PyErr_Format(PyExc_ValueError, "token_counts has %zu entries for %zu lines", token_counts->size(),
                 lines.batch.size());
    return {};
  }
  // Everything below works on copies of the arguments and on lines whose
  // objects `lines` holds.
  InterpreterReleased released;
  return {tracking::track_lines(lines.batch, token_counts ? *token_counts : kNoCounts, file, sources, zr_dir,
                                tokenizer ? std::optional<std::string_view>(*tokenizer) : std::nullopt)};
}

// Each line's hash, or None for a line that was not tracked.
PyObject* py_line_hashes(const tracking::LineHashes& hashes) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(hashes.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < hashes.size(); ++i) {
    PyObject* item = Py_None;
    if (hashes.tracked(i)) {
      const std::string_view hash = hashes.hash(i);
      item = PyUnicode_FromStringAndSize(hash.data(), static_cast<Py_ssize_t>(hash.size()));
      if (item == nullptr) return nullptr;
    } else {
      Py_INCREF(item);
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

constexpr const char* kTrackLinesDoc =
    "Track many raw lines of one file at once.\n\n"
    "Each line (bytes or str, without its line end) is read as the store reads\n"
    "JSON Lines. A line that is one JSON value gets exactly the records\n"
    "track(value, file, sources, zr_dir, count, tokenizer) would write, in line\n"
    "order, each file written once per batch. Returns each line's hash, or None\n"
    "for a blank line, a line that is not JSON, or a value track refuses.";

const FunctionRecord& track_lines_record() {
  static const FunctionRecord record =
      function("track_lines",
               params(Param<LineList>("lines"), Param<Str>("file"), Param<StrList>("sources"), Param<Str>("zr_dir"),
                      Param<OptionalKind<TokenCounts>>("token_counts", None), Param<OptionalStr>("tokenizer", None)),
               track_lines, py_line_hashes, kTrackLinesDoc);
  return record;
}

template <const FunctionRecord& (*Record)()>
PyObject* method(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_function(Record(), args, PyVectorcall_NARGS(nargsf), kwnames);
}

// The docstrings (method_doc of each record) and the method table, made
// once when the module is first imported; both live as long as the process,
// and the table points into the docstrings, which a deque never moves.
std::deque<std::string> g_docs;
std::vector<PyMethodDef> g_methods;

template <const FunctionRecord& (*Record)()>
void add_method() {
  g_docs.push_back(method_doc(Record()));
  g_methods.push_back({Record().name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method<Record>)),
                       METH_FASTCALL | METH_KEYWORDS, g_docs.back().c_str()});
}

void fill_methods() {
  add_method<track_lines_record>();
  add_method<split_store_record>();
  add_method<merge_document_texts_record>();
  add_method<merge_token_texts_record>();
  add_method<absorb_document_texts_record>();
  add_method<absorb_token_text_record>();
  add_method<log_merge_record>();
  g_methods.push_back({nullptr, nullptr, 0, nullptr});
}

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "_zr_bulk",
    "Bulk tracking of raw JSON Lines, and merging a store tracked in pieces.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace zr::module

PyMODINIT_FUNC PyInit__zr_bulk() {
  using namespace zr::module;
  if (g_methods.empty()) {
    fill_methods();
    g_module.m_methods = g_methods.data();
  }
  if (!create_internal_fault_class("_zr_bulk.InternalFault")) return nullptr;
  return PyModule_Create(&g_module);
}
