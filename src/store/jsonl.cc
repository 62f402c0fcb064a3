#include "store/jsonl.h"

#include "base/file.h"
#include "json/parse.h"
#include "json/write.h"

namespace zr::store {

namespace {

template <typename Keep>
base::Result<std::vector<json::Value>> read_lines(const std::string& path, Keep&& keep) {
  std::vector<json::Value> values;
  ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(path));
  json::Parser parser;
  for_each_line(file.view(), [&](std::string_view line, size_t readable_after) {
    if (!keep(line)) return;
    json::Value value;
    if (parser.ParseInto(line, readable_after, value)) values.push_back(std::move(value));
  });
  return values;
}

}  // namespace

base::Result<std::vector<json::Value>> jsonl_read(const std::string& path) {
  return read_lines(path, [](std::string_view) { return true; });
}

base::Result<std::vector<json::Value>> jsonl_read_filtered(const std::string& path,
                                                           const std::vector<std::string>& needles) {
  for (const std::string& needle : needles) {
    if (needle.empty()) return base::Status::InternalFault("filtered read given an empty needle");
  }
  return read_lines(path, [&](std::string_view line) {
    for (const std::string& needle : needles) {
      if (line.find(needle) != std::string_view::npos) return true;
    }
    return false;
  });
}

base::Status append_line(const std::string& path, std::string_view line) { return base::append_to_file(path, line); }

base::Status jsonl_append(const std::string& path, const json::Value& value) {
  std::string line;
  line.reserve(128);
  json::append_compact(line, value);
  line.push_back('\n');
  return append_line(path, line);
}

}  // namespace zr::store
