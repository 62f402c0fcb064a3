#include "store/init.h"

#include <string>

#include "base/file.h"
#include "base/file_system.h"
#include "store/store_paths.h"

namespace zr::store {

base::Status init_store(std::string_view zr_dir) {
  for (std::string_view layer : {kAuthorsLayer, kSectionsLayer, kDocumentIndexLayer, kIndexLayer}) {
    ZR_RETURN_IF_ERROR(base::make_directories(store_path(zr_dir, layer)));
  }
  return base::write_file(store_path(zr_dir, kLogName), "");
}

}  // namespace zr::store
