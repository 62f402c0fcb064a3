// Writing index.bin.
//
// A build never exposes a half-written index: everything goes to a temporary
// file in the store directory (named so that no reader of the store takes
// it), is verified, flushed and then renamed over index.bin. Whatever fails
// on the way leaves the previous index.bin as it was and removes the
// temporary file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/file_replacement.h"
#include "base/status.h"
#include "index/binary_index_format.h"

namespace zr::index {

// Prefix of the temporary file, directly in the store directory.
inline constexpr std::string_view kBinaryIndexTempPrefix = ".tmp-index.bin-";

// Writes index.bin in stages: WriteEntries, optionally AppendLineOffsets,
// then Commit. A writer dropped before Commit, or one whose stage failed,
// leaves no temporary file behind and index.bin untouched.
class BinaryIndexWriter {
 public:
  // Creates the temporary file. Error: "creating <zr_dir>/.zr/index.bin".
  static base::Result<BinaryIndexWriter> Create(std::string_view zr_dir);

  BinaryIndexWriter(BinaryIndexWriter&& other) noexcept;
  BinaryIndexWriter& operator=(BinaryIndexWriter&&) = delete;

  // Sorts the entries by key (stable: equal keys keep their order), writes
  // header, records and fanout table, then re-opens the file and checks it.
  // Returns the number of entries written. Refs the format cannot hold are
  // left out, see encode_payload.
  base::Result<uint32_t> WriteEntries(std::span<const IndexEntry> entries);

  // Appends the line-offset table of `data_file`; a missing or empty file
  // adds nothing. Errors carry the system's message.
  base::Status AppendLineOffsets(const std::string& data_file);

  // Flushes the file to disk and renames it over index.bin.
  base::Status Commit();

  const std::string& temp_path() const { return file_.temp_path(); }

 private:
  enum class Stage { kCreated, kEntriesWritten, kTableAppended, kCommitted, kAbandoned };

  explicit BinaryIndexWriter(base::FileReplacement file) : file_(std::move(file)) {}
  base::Status CheckStage(bool allowed, std::string_view operation) const;
  // Ends the writer after a failure: closes and removes the temporary file.
  base::Status Abandon(base::Status status);

  base::FileReplacement file_;
  Stage stage_ = Stage::kCreated;
};

// The whole write in one call: entries, the line-offset table of
// `line_table_file` (none when empty), commit. Returns the entry count.
base::Result<uint32_t> binary_index_write(std::string_view zr_dir, std::span<const IndexEntry> entries,
                                          std::string_view line_table_file = {});

// Appends one entry's payload (the refs in order) to `out` and returns its
// size. What the format cannot hold is left out rather than written with
// wrapped length fields: token refs whose tokenizer name is over 255 bytes,
// and the token refs from the first one that would take the payload past
// 65535 bytes. Shard refs take precedence over token refs, wherever they
// stand in the list: the queries follow shard refs, while token refs are
// informational. (Only more than 32767 shard refs could pass the limit on
// their own; the first 32767 are kept.)
size_t encode_payload(std::string& out, const std::vector<Ref>& refs);

// The line-offset table of a data file's bytes: count, then the start of
// every line (0, and each position after a "\n" that is not the last byte).
// Empty data gives no table at all. Offsets are stored in 32 bits.
std::string encode_line_offsets(std::string_view data);

}  // namespace zr::index
