#include "store/init.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "base/file.h"
#include "store/store_paths.h"

namespace zr::store {

base::Status create_directories(const std::string& path) {
  if (path.empty()) return base::Status::FromErrno(ENOENT);
  if (path.find('\0') != std::string::npos) return base::Status::Error("path contains a NUL byte");
  // Create each prefix in turn, from the root down.
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string prefix = path.substr(0, pos);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
    int err = errno;
    if (err == EEXIST) {
      ZR_ASSIGN_OR_RETURN(base::PathKind existing, base::path_kind(prefix));
      if (existing == base::PathKind::kDirectory) continue;
    }
    // An existing entry that is not a directory, or a real failure.
    if (err == EEXIST) return base::Status::FromErrno(pos == std::string::npos ? EEXIST : ENOTDIR);
    return base::Status::FromErrno(err);
  }
  return base::Status();
}

base::Status init_store(std::string_view zr_dir) {
  for (std::string_view layer : {kAuthorsLayer, kSectionsLayer, kDocumentIndexLayer, kIndexLayer}) {
    ZR_RETURN_IF_ERROR(create_directories(store_path(zr_dir, layer)));
  }
  return base::write_file(store_path(zr_dir, kLogName), "");
}

}  // namespace zr::store
