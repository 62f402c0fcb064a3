#include "token_index/author_tokens_chunks.h"

#include "json/parse.h"
#include "token_index/entry_view.h"
#include "token_index/token_bin_format.h"

namespace zr::token_index {

ChunkLocator::ChunkLocator(const TokenBinIndex& index, const std::vector<ChunkFile>& chunks) : index_(index) {
  for (const ChunkFile& chunk : chunks) {
    // Larger numbers cannot be named by an entry record.
    if (chunk.number > kMaxChunkNumber) continue;
    numbers_[static_cast<uint16_t>(chunk.number)].files.push_back(Spelling{&chunk, 0, std::nullopt});
  }
}

base::Result<const base::MappedFile*> ChunkLocator::Mapped(Spelling& spelling) {
  if (!spelling.map) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(spelling.chunk->path));
    spelling.map = std::move(file);
  }
  return spelling.map->size() == 0 ? nullptr : &*spelling.map;
}

uint64_t ChunkLocator::first_entry_of(uint16_t chunk) const {
  uint64_t low = 0;
  uint64_t high = index_.entry_count();
  while (low < high) {
    uint64_t mid = low + (high - low) / 2;
    std::optional<TokenBinEntry> entry = index_.entry(mid);
    if (entry && entry->chunk < chunk) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

base::Status ChunkLocator::ResolveRuns(uint16_t chunk, Number& number) {
  json::Parser parser;
  uint64_t next = first_entry_of(chunk);
  for (Spelling& spelling : number.files) {
    spelling.first_entry = next;
    ZR_ASSIGN_OR_RETURN(const base::MappedFile* file, Mapped(spelling));
    if (file == nullptr) continue;
    std::string_view text = file->view();
    store::for_each_raw_line(text, [&](std::string_view line, size_t offset) {
      if (read_entry_line(parser, line, text.size() - (offset + line.size()))) ++next;
    });
  }
  number.runs_known = true;
  return base::Status();
}

base::Result<const base::MappedFile*> ChunkLocator::FileOf(uint32_t entry_number, uint16_t chunk) {
  auto it = numbers_.find(chunk);
  if (it == numbers_.end()) return nullptr;
  Number& number = it->second;
  if (number.files.size() == 1) return Mapped(number.files.front());
  if (!number.runs_known) ZR_RETURN_IF_ERROR(ResolveRuns(chunk, number));
  Spelling* holder = &number.files.front();
  for (Spelling& spelling : number.files) {
    if (spelling.first_entry <= entry_number) holder = &spelling;
  }
  return Mapped(*holder);
}

}  // namespace zr::token_index
