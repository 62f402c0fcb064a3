#include "token_index/pid_file.h"

#include <unistd.h>

#include "base/file.h"
#include "base/file_system.h"
#include "store/jsonl.h"
#include "store/store_paths.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"

namespace zr::token_index {

base::Status token_index_write_pid(std::string_view zr_dir, std::string_view tokenizer, uint64_t token_count,
                                   const std::vector<std::string>& sources) {
  TokenIndexEntry entry{token_count, sources, std::string(tokenizer), false};
  return token_index_append_pid_lines(zr_dir, tokenizer, entry_line(entry));
}

base::Status token_index_append_pid_lines(std::string_view zr_dir, std::string_view tokenizer,
                                          std::string_view lines) {
  ZR_RETURN_IF_ERROR(check_tokenizer_name(tokenizer));
  const std::string path = pid_file_path(zr_dir, tokenizer, static_cast<uint32_t>(::getpid()));
  // Tracking calls this once per line, and the store is there nearly every
  // time: the append comes first, and the store directory is looked at (and
  // made) only when the append fails. An append into a store directory that
  // exists has had its one try; elsewhere nothing was written, and the
  // directory is made and the append tried as if it had just been made.
  base::Status appended = store::append_line(path, lines);
  if (appended.ok()) return appended;
  const std::string store = store::store_dir(zr_dir);
  ZR_ASSIGN_OR_RETURN(base::PathKind store_kind, base::path_kind(store));
  if (store_kind == base::PathKind::kDirectory) return appended;
  // Creating it would only say "File exists", which leaves the user guessing.
  if (store_kind != base::PathKind::kMissing) return base::Status::Error(store + " is not a directory");
  ZR_RETURN_IF_ERROR(base::make_directories(store));
  return store::append_line(path, lines);
}

}  // namespace zr::token_index
