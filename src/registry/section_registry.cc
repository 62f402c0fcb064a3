#include "registry/section_registry.h"

#include "base/file.h"
#include "registry/section.h"
#include "store/store_paths.h"

namespace zr::registry {

base::Result<std::string> register_section(std::string_view zr_dir, std::string_view path,
                                           const std::vector<std::string>& authors,
                                           const std::vector<std::string>& contributors, std::string_view license,
                                           std::string_view year) {
  Section section{section_hash_of(path, authors, contributors, license, year),
                  std::string(path),
                  authors,
                  contributors,
                  std::string(license),
                  std::string(year)};
  ZR_ASSIGN_OR_RETURN(std::string shard, store::shard_path(zr_dir, store::kSectionsLayer, section.section_hash));
  ZR_RETURN_IF_ERROR(base::append_to_file(shard, section_line(section)));
  return std::move(section.section_hash);
}

}  // namespace zr::registry
