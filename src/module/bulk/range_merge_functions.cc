#include "module/bulk/range_merge_functions.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "maintenance/range_merge.h"
#include "module/bulk/interpreter_released.h"
#include "module/bulk/text_kinds.h"
#include "module/to_python.h"

namespace zr::module {

namespace {

using maintenance::RecordTexts;

PyObject* py_bytes_list(const std::vector<std::string>& texts) {
  return py_list(texts, [](const std::string& text) { return py_bytes(text); });
}

// (texts, skipped) of a merge; the texts as `texts` makes them. Takes over
// the new reference `texts` (nullptr passes an error on).
PyObject* with_skipped(PyObject* texts, uint64_t skipped) {
  PyRef held(texts);
  if (!held) return nullptr;
  return Py_BuildValue("(OK)", held.get(), static_cast<unsigned long long>(skipped));
}

// (document texts, token entries text, skipped) for a split.
PyObject* py_split(const RecordTexts& split) {
  PyRef documents(py_bytes_list(split.documents));
  if (!documents) return nullptr;
  PyRef tokens(py_bytes(split.tokens));
  if (!tokens) return nullptr;
  return Py_BuildValue("(OOK)", documents.get(), tokens.get(), static_cast<unsigned long long>(split.skipped));
}

PyObject* py_merged_documents(const maintenance::ShardTexts& merged) {
  return with_skipped(py_bytes_list(merged.texts), merged.skipped);
}

PyObject* py_merged_tokens(const RecordTexts& merged) { return with_skipped(py_bytes(merged.tokens), merged.skipped); }

base::Result<RecordTexts> split_store(const std::string& zr_dir, uint64_t ranges,
                                      const std::optional<std::string>& tokenizer) {
  InterpreterReleased released;
  return maintenance::split_store_records(zr_dir, tokenizer ? std::optional<std::string_view>(*tokenizer) : std::nullopt,
                                          static_cast<size_t>(ranges));
}

maintenance::ShardTexts merge_document_texts(const BorrowedTexts& texts) {
  InterpreterReleased released;
  return maintenance::merge_document_texts(texts.texts);
}

RecordTexts merge_token_texts(const BorrowedTexts& texts) {
  InterpreterReleased released;
  return maintenance::merge_token_texts(texts.texts);
}

base::Result<maintenance::LayerMergeCounts> absorb_document_texts(const std::string& zr_dir,
                                                                  const BorrowedTexts& texts, bool merged) {
  InterpreterReleased released;
  return maintenance::absorb_document_texts(zr_dir, texts.texts, merged);
}

base::Result<maintenance::TokenMergeCounts> absorb_token_text(const std::string& zr_dir, const std::string& tokenizer,
                                                              const BorrowedTexts& text) {
  InterpreterReleased released;
  return maintenance::absorb_token_text(zr_dir, tokenizer, text.texts.front());
}

base::Status log_merge(const std::string& zr_dir, const std::string& source, uint64_t authors_added,
                       uint64_t sections_added, uint64_t document_added, uint64_t token_index_added, uint64_t skipped) {
  return maintenance::log_merge(zr_dir, source,
                                {authors_added, sections_added, document_added, token_index_added, skipped});
}

constexpr const char* kSplitStoreDoc =
    "The records of a store tracked from one piece of a corpus, for a merge by shard range.\n\n"
    "Returns (documents, tokens, skipped): the document-index records cut into\n"
    "`ranges` texts by shard range (the 256 shards in runs of consecutive ones),\n"
    "the merged token-index entries of `tokenizer` (empty without one), and how\n"
    "many records were dropped. Each identity is kept once, the first in reading\n"
    "order, in the form merge_absorb copies.";
constexpr const char* kMergeDocumentTextsDoc =
    "Document-index records of `texts`, read in order, each identity kept once.\n\n"
    "Returns (texts, skipped): the first record of each (line_hash, file), as\n"
    "merge_absorb copies it, one text per shard in ascending shard order, and\n"
    "how many records were dropped.";
constexpr const char* kMergeTokenTextsDoc =
    "Token-index entries of `texts`, read in order, each identity kept once.\n\n"
    "Returns (text, skipped): the first entry of each identity (token count,\n"
    "tokenizer, sorted sources) in its stored form, and how many were dropped.";
constexpr const char* kAbsorbDocumentTextDoc =
    "Append to a store's document index the records of `texts` it lacks.\n\n"
    "As merge_absorb does for a source holding exactly those records, in\n"
    "order, reading only the target's shards the records name. Neither builds\n"
    "the index nor logs. Returns {\"document_added\", \"skipped\"}. With\n"
    "`merged`, each text is one of merge_document_texts' texts, appended as it\n"
    "is when the target has no file of its shard.";
constexpr const char* kAbsorbTokenTextDoc =
    "Write the token-index entries of `text` that a store lacks to a new chunk file.\n\n"
    "As merge_absorb does for a source holding exactly those entries under\n"
    "`tokenizer`. Returns {\"token_index_added\", \"skipped\"}.";
constexpr const char* kLogMergeDoc = "Append the \"merge\" log entry merge_absorb appends, with these counts.";


}  // namespace

const FunctionRecord& split_store_record() {
  static const FunctionRecord record =
      function("split_store",
               params(Param<Str>("zr_dir"), Param<U64>("ranges"), Param<OptionalStr>("tokenizer", None)),
               split_store, py_split, kSplitStoreDoc);
  return record;
}

const FunctionRecord& merge_document_texts_record() {
  static const FunctionRecord record = function("merge_document_texts", params(Param<TextList>("texts")),
                                                merge_document_texts, py_merged_documents, kMergeDocumentTextsDoc);
  return record;
}

const FunctionRecord& merge_token_texts_record() {
  static const FunctionRecord record = function("merge_token_texts", params(Param<TextList>("texts")),
                                                merge_token_texts, py_merged_tokens, kMergeTokenTextsDoc);
  return record;
}

const FunctionRecord& absorb_document_texts_record() {
  static const FunctionRecord record = function(
      "absorb_document_texts", params(Param<Str>("zr_dir"), Param<TextList>("texts"), Param<Bool>("merged", false)),
      absorb_document_texts,
      [](const maintenance::LayerMergeCounts& c) {
        return py_counts({{"document_added", c.added}, {"skipped", c.skipped}});
      },
      kAbsorbDocumentTextDoc);
  return record;
}

const FunctionRecord& absorb_token_text_record() {
  static const FunctionRecord record = function(
      "absorb_token_text", params(Param<Str>("zr_dir"), Param<Str>("tokenizer"), Param<Text>("text")),
      absorb_token_text,
      [](const maintenance::TokenMergeCounts& c) {
        return py_counts({{"token_index_added", c.added}, {"skipped", c.skipped}});
      },
      kAbsorbTokenTextDoc);
  return record;
}

const FunctionRecord& log_merge_record() {
  static const FunctionRecord record =
      function("log_merge",
               params(Param<Str>("zr_dir"), Param<Str>("source"), Param<U64>("authors_added"),
                      Param<U64>("sections_added"), Param<U64>("document_added"), Param<U64>("token_index_added"),
                      Param<U64>("skipped")),
               log_merge, PlainToPython{}, kLogMergeDoc);
  return record;
}

}  // namespace zr::module
