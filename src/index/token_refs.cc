#include "index/token_refs.h"

#include <limits>
#include <string>
#include <vector>

#include "index/record_reader.h"
#include "token_index/chunk_files.h"
#include "token_index/token_index_names.h"
#include "token_index/token_status.h"

namespace zr::index {

namespace {

// Where one merged line lies; every source key of the line shares it.
struct LineRef {
  uint32_t tokenizer;  // index into the tokenizer names
  uint16_t chunk;
  uint32_t offset;
  uint32_t length;
};

// A token ref waiting for its entry.
struct PendingRef {
  uint32_t position;  // of the entry in the list
  uint32_t line;      // index into the line refs
};

// Appends the pending refs to their entries, each entry's refs in the order
// they were met. Refs go in entry by entry rather than as the lines are
// read: thousands of entries growing at random would make every append a
// cache miss. The payload rule of the writer is applied here already (shard
// refs first, then token refs up to the first one that does not fit), so
// that no more refs are built than the file will hold.
void attach_refs(EntryList& list, const std::vector<std::string>& tokenizers, const std::vector<LineRef>& lines,
                 const std::vector<PendingRef>& pending) {
  const size_t n = list.entries.size();
  std::vector<uint32_t> begin(n + 1, 0);
  for (const PendingRef& ref : pending) ++begin[ref.position + 1];
  for (size_t i = 0; i < n; ++i) begin[i + 1] += begin[i];
  std::vector<uint32_t> order(pending.size());
  std::vector<uint32_t> next(begin.begin(), begin.end() - 1);
  for (const PendingRef& ref : pending) order[next[ref.position]++] = ref.line;

  for (size_t i = 0; i < n; ++i) {
    if (begin[i] == begin[i + 1]) continue;
    std::vector<Ref>& refs = list.entries[i].refs;
    const size_t shards = refs.size();  // only shard refs so far
    size_t room = token_ref_room(shards);
    size_t count = 0;
    for (uint32_t k = begin[i]; k < begin[i + 1]; ++k) {
      const size_t size = token_ref_size(tokenizers[lines[order[k]].tokenizer]);
      if (size > room) break;
      room -= size;
      ++count;
    }
    refs.reserve(shards + count);
    for (uint32_t k = begin[i]; k < begin[i] + count; ++k) {
      const LineRef& line = lines[order[k]];
      refs.emplace_back(TokenRef{tokenizers[line.tokenizer], line.chunk, line.offset, line.length});
    }
  }
}

}  // namespace

base::Result<uint64_t> add_token_refs(std::string_view zr_dir, EntryList& list) {
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> tokenizers, token_index::token_index_list_tokenizers(zr_dir));
  uint64_t count = 0;
  std::vector<LineRef> lines;
  std::vector<PendingRef> pending;
  RecordReader reader{"sources"};
  for (uint32_t t = 0; t < tokenizers.size(); ++t) {
    const std::string merged_dir = token_index::merged_dir_path(zr_dir, tokenizers[t]);
    ZR_ASSIGN_OR_RETURN(const bool merged_dir_exists, base::directory_exists(merged_dir));
    if (!merged_dir_exists) continue;
    ZR_ASSIGN_OR_RETURN(std::vector<token_index::ChunkFile> chunks, token_index::chunk_files_in(merged_dir));
    const bool refs_fit = tokenizers[t].size() <= kMaxTokenizerNameSize;
    for (const token_index::ChunkFile& chunk : chunks) {
      ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(chunk.path));
      const std::string_view text = file.view();
      const auto chunk_number = static_cast<uint16_t>(chunk.number);
      store::for_each_raw_line(text, [&](std::string_view line, size_t offset) {
        if (!reader.Read(line, text.size() - offset - line.size())) return;
        const MemberView& sources = reader.member(0);
        if (sources.kind != MemberKind::kArray) return;
        ++count;
        if (!refs_fit || offset > std::numeric_limits<uint32_t>::max() ||
            line.size() > std::numeric_limits<uint32_t>::max()) {
          return;
        }
        bool line_added = false;
        for (std::string_view source : sources.strings) {
          const std::optional<store::HashKey> key = store::decode_hash_key(source);
          if (!key) continue;
          if (!line_added) {
            lines.push_back(
                LineRef{t, chunk_number, static_cast<uint32_t>(offset), static_cast<uint32_t>(line.size())});
            line_added = true;
          }
          pending.push_back(
              PendingRef{static_cast<uint32_t>(list.PositionOf(*key)), static_cast<uint32_t>(lines.size() - 1)});
        }
      });
    }
  }
  if (pending.size() > std::numeric_limits<uint32_t>::max() || lines.size() > std::numeric_limits<uint32_t>::max()) {
    return base::Status::Error("too many token-index references for the binary index: " +
                               std::to_string(pending.size()));
  }
  attach_refs(list, tokenizers, lines, pending);
  return count;
}

}  // namespace zr::index
