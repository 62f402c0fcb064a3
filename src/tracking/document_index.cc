#include "tracking/document_index.h"

#include "base/file.h"
#include "store/jsonl.h"
#include "store/shard.h"
#include "store/store_paths.h"

namespace zr::tracking {

base::Status index_document(std::string_view zr_dir, std::string_view line_hash, std::string_view file,
                            const std::vector<std::string>& sources, std::string_view source_type) {
  ZR_ASSIGN_OR_RETURN(std::string path, store::shard_path(zr_dir, store::kDocumentIndexLayer, line_hash));
  return store::append_line(path, document_line(line_hash, file, sources, source_type));
}

namespace {

// A line can only hold the hash when its text contains the hash verbatim, or
// spells some string with escapes. Everything else is skipped unparsed, which
// keeps a lookup in a large shard cheap.
bool may_hold(std::string_view line, std::string_view line_hash) {
  return line.find(line_hash) != std::string_view::npos || line.find('\\') != std::string_view::npos;
}

}  // namespace

base::Result<std::vector<DocumentRecord>> lookup_document(std::string_view zr_dir, std::string_view line_hash) {
  ZR_ASSIGN_OR_RETURN(std::string path, store::shard_path(zr_dir, store::kDocumentIndexLayer, line_hash));
  std::vector<DocumentRecord> records;
  ZR_ASSIGN_OR_RETURN(base::MappedFile shard, base::MappedFile::OpenIfExists(path));
  json::Parser parser;
  store::for_each_line(shard.view(), [&](std::string_view line, size_t readable_after) {
    if (!may_hold(line, line_hash)) return;
    std::optional<DocumentRecord> record = parse_document_line(parser, line, readable_after);
    if (record && record->line_hash == line_hash) records.push_back(std::move(*record));
  });
  return records;
}

base::Result<std::vector<json::Value>> read_all_documents(std::string_view zr_dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<json::Value> lines, store::shard_iterate_all(zr_dir, store::kDocumentIndexLayer));
  std::vector<json::Value> documents;
  documents.reserve(lines.size());
  for (json::Value& line : lines) {
    if (is_document_value(line)) documents.push_back(std::move(line));
  }
  return documents;
}

}  // namespace zr::tracking
