// The extension module _zr_bulk: tracking many raw lines in one call. It is
// a module of its own so that _zr_native keeps exactly its set of functions;
// it binds its function through the same records, conversions and binder.
#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "module/bulk/line_kinds.h"
#include "module/call_binding.h"
#include "module/function_record.h"
#include "module/to_python.h"
#include "tracking/track_batch.h"

namespace zr::module {
namespace {

// Gives up the interpreter's lock for as long as it lives, so that other
// threads run Python meanwhile; taken back however the scope is left.
class InterpreterReleased {
 public:
  InterpreterReleased() : state_(PyEval_SaveThread()) {}
  ~InterpreterReleased() { PyEval_RestoreThread(state_); }
  InterpreterReleased(const InterpreterReleased&) = delete;
  InterpreterReleased& operator=(const InterpreterReleased&) = delete;

 private:
  PyThreadState* state_;
};

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

PyObject* track_lines_method(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_function(track_lines_record(), args, PyVectorcall_NARGS(nargsf), kwnames);
}

std::string g_track_lines_doc;  // method_doc of track_lines
PyMethodDef g_methods[] = {
    {"track_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(track_lines_method)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "_zr_bulk", "Bulk tracking of raw JSON Lines.", -1, g_methods, nullptr, nullptr,
    nullptr, nullptr,
};

}  // namespace
}  // namespace zr::module

PyMODINIT_FUNC PyInit__zr_bulk() {
  using namespace zr::module;
  if (g_methods[0].ml_doc == nullptr) {
    g_track_lines_doc = method_doc(track_lines_record());
    g_methods[0].ml_doc = g_track_lines_doc.c_str();
  }
  if (!create_internal_fault_class("_zr_bulk.InternalFault")) return nullptr;
  return PyModule_Create(&g_module);
}
