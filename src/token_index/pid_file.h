// Per-process token-index files: each tracking process appends its entries
// to a file of its own, so concurrent trackers never share a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::token_index {

// Appends one entry (revoked false) to "token-index.<tokenizer>.<pid>" in
// <zr_dir>/.zr, creating the store directory if missing.
base::Status token_index_write_pid(std::string_view zr_dir, std::string_view tokenizer, uint64_t token_count,
                                   const std::vector<std::string>& sources);

// Appends stored entry lines (each ending in "\n") to this process's file
// for `tokenizer` in one write, creating the store directory if missing.
base::Status token_index_append_pid_lines(std::string_view zr_dir, std::string_view tokenizer,
                                          std::string_view lines);

}  // namespace zr::token_index
