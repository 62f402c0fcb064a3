#include "index/index_build.h"

#include <optional>
#include <string>
#include <vector>

#include "base/file.h"
#include "index/attribution_tables.h"
#include "index/binary_index_writer.h"
#include "index/index_layer.h"
#include "index/rebuild_mark.h"
#include "index/record_reader.h"
#include "index/token_refs.h"
#include "store/store_paths.h"
#include "token_index/token_bin_build.h"
#include "token_index/token_status.h"

namespace zr::index {

namespace {

// Feeds every regular file of a layer to `add`, one mapping at a time.
template <typename Add>
base::Status read_layer(std::string_view zr_dir, std::string_view layer, Add&& add) {
  const std::string dir = store::store_path(zr_dir, layer);
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> files, base::regular_files_in(dir));
  for (const std::string& path : files) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(path));
    add(file.view());
  }
  return base::Status();
}

// The data file whose line-offset table goes into index.bin: the first
// entry of the project root, in listing order, with the extension "jsonl".
// It is chosen by name alone: the root holds the user's own files too, and
// one that cannot be examined (a symbolic link loop) must not fail a build
// that never reads it. The chosen entry is checked when it is read.
base::Result<std::optional<std::string>> line_table_file(std::string_view zr_dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> names, base::list_directory_names(std::string(zr_dir)));
  for (const std::string_view name : names) {
    if (!has_extension(name) || name.substr(name.rfind('.') + 1) != "jsonl") continue;
    return std::optional<std::string>(base::path_join(zr_dir, name));
  }
  return std::optional<std::string>();
}

// Writes index.bin with the line-offset table. The outer error means no new
// index.bin. When only the table cannot be had (the root cannot be listed,
// the data file cannot be read), index.bin is still committed complete
// without it, since the attribution entries do not depend on the table, and
// the table's failure is reported beside it.
struct BinaryIndexWritten {
  base::Status line_table;
};

base::Result<BinaryIndexWritten> write_binary_index(std::string_view zr_dir, const std::vector<IndexEntry>& entries) {
  ZR_ASSIGN_OR_RETURN(BinaryIndexWriter writer, BinaryIndexWriter::Create(zr_dir));
  ZR_RETURN_IF_ERROR(writer.WriteEntries(entries).status());
  base::Result<std::optional<std::string>> data_file = line_table_file(zr_dir);
  if (!data_file.ok()) {
    ZR_RETURN_IF_ERROR(writer.Commit());
    return BinaryIndexWritten{data_file.status()};
  }
  if (*data_file) {
    if (base::Status appended = writer.AppendLineOffsets(**data_file); !appended.ok()) {
      // The failed append discarded the writer's file: write it again, bare.
      ZR_RETURN_IF_ERROR(binary_index_write(zr_dir, entries).status());
      return BinaryIndexWritten{appended};
    }
  }
  ZR_RETURN_IF_ERROR(writer.Commit());
  return BinaryIndexWritten{};
}

// The token binary indexes follow the merged directories the build has just
// read; a tokenizer whose index cannot be built keeps the scan path.
base::Status rebuild_token_binary_indexes(std::string_view zr_dir) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> tokenizers, token_index::token_index_list_tokenizers(zr_dir));
  for (const std::string& tokenizer : tokenizers) {
    (void)token_index::token_index_build_binary_index(zr_dir, tokenizer);
  }
  return base::Status();
}

}  // namespace

base::Result<IndexBuildCounts> build_index(std::string_view zr_dir) {
  AttributionTables tables;
  ZR_RETURN_IF_ERROR(
      read_layer(zr_dir, store::kDocumentIndexLayer, [&](std::string_view text) { tables.AddDocumentText(text); }));
  ZR_RETURN_IF_ERROR(
      read_layer(zr_dir, store::kSectionsLayer, [&](std::string_view text) { tables.AddSectionText(text); }));

  IndexBuildCounts counts;
  counts.authors = tables.author_count();
  counts.sections = tables.section_count();
  counts.total = counts.authors + counts.sections;

  ZR_RETURN_IF_ERROR(replace_index_layer(zr_dir, tables.RenderGroups()));
  // index.bin is derived from the layer as written, not from the tables, so
  // that the two never disagree.
  ZR_ASSIGN_OR_RETURN(EntryList list, read_index_layer(zr_dir));
  ZR_ASSIGN_OR_RETURN(counts.token_index_entries, add_token_refs(zr_dir, list));

  ZR_ASSIGN_OR_RETURN(const BinaryIndexWritten written, write_binary_index(zr_dir, list.entries));
  ZR_RETURN_IF_ERROR(rebuild_token_binary_indexes(zr_dir));
  // Every layer record is in the index now. A mark that cannot be removed
  // only costs another build.
  (void)clear_rebuild_mark(zr_dir);
  ZR_RETURN_IF_ERROR(written.line_table);
  return counts;
}

}  // namespace zr::index
