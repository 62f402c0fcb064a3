#include "registry/section_scans.h"

#include <optional>
#include <utility>

#include "base/string_set.h"
#include "registry/section.h"
#include "json/parse.h"
#include "store/jsonl.h"
#include "store/layer_scan.h"

namespace zr::registry {

namespace {

template <typename Keep>
base::Result<std::vector<std::string>> scan_sections(std::string_view zr_dir, bool can_match, Keep&& keep) {
  return store::scan_layer_files<std::string>(
      zr_dir, store::kSectionsLayer, can_match, [&](std::string_view text, std::vector<std::string>& out) {
        json::Parser parser;
        store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
          std::optional<Section> section = parse_section_line(parser, line, readable_after);
          if (section && keep(*section)) out.push_back(std::move(section->section_hash));
        });
      });
}

}  // namespace

base::Result<std::vector<std::string>> sections_by_authors(std::string_view zr_dir,
                                                           const std::vector<std::string>& author_ids) {
  const base::StringSet ids(author_ids.begin(), author_ids.end());
  return scan_sections(zr_dir, !ids.empty(), [&](const Section& section) {
    for (const std::string& author : section.authors) {
      if (ids.contains(author)) return true;
    }
    return false;
  });
}

base::Result<std::vector<std::string>> sections_by_license(std::string_view zr_dir, std::string_view license) {
  return scan_sections(zr_dir, true, [&](const Section& section) { return section.license == license; });
}

}  // namespace zr::registry
