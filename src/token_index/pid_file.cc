#include "token_index/pid_file.h"

#include <unistd.h>

#include "base/file.h"
#include "store/init.h"
#include "store/jsonl.h"
#include "store/store_paths.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

base::Status token_index_write_pid(std::string_view zr_dir, std::string_view tokenizer, uint64_t token_count,
                                   const std::vector<std::string>& sources) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  // One stat in the common case; tracking calls this once per line.
  std::string store = store::store_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::PathKind store_kind, base::path_kind(store));
  if (store_kind == base::PathKind::kMissing) ZR_RETURN_IF_ERROR(store::create_directories(store));
  // Creating it would only say "File exists", which leaves the user guessing.
  if (store_kind != base::PathKind::kMissing && store_kind != base::PathKind::kDirectory) {
    return base::Status::Error(store + " is not a directory");
  }
  TokenIndexEntry entry{token_count, sources, std::string(tokenizer), false};
  uint32_t pid = static_cast<uint32_t>(::getpid());
  return store::append_line(pid_file_path(zr_dir, tokenizer, pid), entry_line(entry));
}

}  // namespace zr::token_index
