// Finding the chunk file that holds an entry the token binary index points
// at. The index stores a chunk's number, not its file name, and a number may
// be spelled several ways ("7", "007", "+7") -- even by two files at once,
// which then hold consecutive runs of entry numbers in listing order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "base/file.h"
#include "base/status.h"
#include "token_index/chunk_files.h"
#include "token_index/token_bin_reader.h"

namespace zr::token_index {

class ChunkLocator {
 public:
  // `chunks` in merged order; they must outlive the locator.
  ChunkLocator(const TokenBinIndex& index, const std::vector<ChunkFile>& chunks);

  // The mapped chunk file that holds entry `entry_number`, whose record names
  // chunk `chunk`; nullptr when no chunk file has that number or the file is
  // missing or empty. Each file is mapped once; a mapping failure is an
  // error.
  base::Result<const base::MappedFile*> FileOf(uint32_t entry_number, uint16_t chunk);

 private:
  struct Spelling {
    const ChunkFile* chunk = nullptr;
    uint64_t first_entry = 0;  // where its run starts, for numbers with several files
    std::optional<base::MappedFile> map;
  };
  struct Number {
    std::vector<Spelling> files;  // listing order
    bool runs_known = false;
  };

  static base::Result<const base::MappedFile*> Mapped(Spelling& spelling);
  // Works out the entry number at which each file of `number` starts: the
  // build numbered the valid entries of these files one after the other.
  base::Status ResolveRuns(uint16_t chunk, Number& number);
  // The first entry number whose record names a chunk not below `chunk`
  // (the entry table is in merged order, so ordered by chunk number).
  uint64_t first_entry_of(uint16_t chunk) const;

  const TokenBinIndex& index_;
  std::map<uint16_t, Number> numbers_;
};

}  // namespace zr::token_index
