// Functions of document tracking: the document index, track and blame, and
// the line diff that carries blame across versions of a file.
#include <array>
#include <vector>

#include "module/document_records.h"
#include "module/function_table.h"
#include "tracking/document_index.h"
#include "tracking/line_diff.h"
#include "tracking/track.h"

namespace zr::module {

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

}  // namespace zr::module
