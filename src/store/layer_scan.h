// A full scan of one layer: every regular file is one task on the worker
// pool, and the results are joined in directory-listing order.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/file.h"
#include "base/status.h"
#include "base/worker_pool.h"
#include "store/store_paths.h"

namespace zr::store {

// Runs `read(text, out)` over every regular file of a layer on the pool and
// joins the per-file outputs in listing order. A missing layer is empty, and
// so is a file removed since the listing; a layer that cannot be listed, or
// a file that is there but cannot be read, is an error (the first in listing
// order), so that an unreadable store never passes for an empty one. When
// nothing can match, the layer is
// still listed (a listing failure is an error either way) but no file is
// read.
template <typename T, typename Read>
base::Result<std::vector<T>> scan_layer_files(std::string_view zr_dir, std::string_view layer, bool can_match,
                                              Read&& read) {
  std::vector<T> joined;
  const std::string dir = store_path(zr_dir, layer);
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> files, base::regular_files_in(dir));
  if (!can_match) return joined;
  std::vector<base::Status> failures(files.size());
  std::vector<std::vector<T>> parts = base::parallel_map(files.size(), [&](size_t i) {
    std::vector<T> part;
    base::Result<base::MappedFile> file = base::MappedFile::OpenIfExists(files[i]);
    if (file.ok()) {
      read(file->view(), part);
    } else {
      failures[i] = file.status();
    }
    return part;
  });
  for (const base::Status& failure : failures) ZR_RETURN_IF_ERROR(failure);
  size_t total = 0;
  for (const std::vector<T>& part : parts) total += part.size();
  joined.reserve(total);
  for (std::vector<T>& part : parts) {
    for (T& item : part) joined.push_back(std::move(item));
  }
  return joined;
}

}  // namespace zr::store
