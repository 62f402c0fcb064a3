// Names of a tokenizer's token-index entries inside the store directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::token_index {

inline constexpr std::string_view kTokenIndexPrefix = "token-index.";

// "token-index.<tokenizer>.<pid>" in <zr_dir>/.zr
std::string pid_file_path(std::string_view zr_dir, std::string_view tokenizer, uint32_t pid);
// "token-index.<tokenizer>": the merged directory of chunk files.
std::string merged_dir_path(std::string_view zr_dir, std::string_view tokenizer);
// "token-index.<tokenizer>.bin": the token binary index.
std::string binary_index_path(std::string_view zr_dir, std::string_view tokenizer);
// A chunk file's name: its number zero-padded to at least three digits.
std::string chunk_file_name(uint64_t number);

// A tokenizer name becomes part of file names, so one holding "/" or NUL is
// refused before any file is touched.
base::Status check_tokenizer_name(std::string_view tokenizer);

}  // namespace zr::token_index
