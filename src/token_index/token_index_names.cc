#include "token_index/token_index_names.h"

#include <cstdio>

#include "base/file.h"
#include "store/store_paths.h"

namespace zr::token_index {

namespace {
std::string entry_name(std::string_view tokenizer) {
  std::string name(kTokenIndexPrefix);
  name.append(tokenizer);
  return name;
}
}  // namespace

std::string pid_file_path(std::string_view zr_dir, std::string_view tokenizer, uint32_t pid) {
  return store::store_path(zr_dir, entry_name(tokenizer) + "." + std::to_string(pid));
}

std::string merged_dir_path(std::string_view zr_dir, std::string_view tokenizer) {
  return store::store_path(zr_dir, entry_name(tokenizer));
}

std::string binary_index_path(std::string_view zr_dir, std::string_view tokenizer) {
  return store::store_path(zr_dir, entry_name(tokenizer) + ".bin");
}

std::string chunk_file_name(uint64_t number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%03llu", static_cast<unsigned long long>(number));
  return buf;
}

base::Status check_tokenizer_name(std::string_view tokenizer) {
  if (tokenizer.find('/') != std::string_view::npos || tokenizer.find('\0') != std::string_view::npos) {
    return base::Status::Error("invalid tokenizer name \"" + std::string(tokenizer) +
                               "\": it must not contain \"/\" or NUL");
  }
  return base::Status();
}

}  // namespace zr::token_index
