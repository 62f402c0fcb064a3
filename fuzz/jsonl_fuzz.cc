// The JSON Lines reader on arbitrary bytes: reading the file gives exactly
// the values of its lines parsed one by one (split at line feeds, one "\r"
// dropped, empty lines and lines that are not one JSON value skipped), and
// the filtered read keeps exactly those that contain a needle.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "fuzz_support.h"
#include "reference_json.h"
#include "json/parse.h"
#include "store/jsonl.h"

using zr::fuzz::fail;

namespace {

struct Line {
  std::string_view text;
  zr::json::Value value;
};

// The lines of `bytes` that parse, each parsed from a copy of its own.
std::vector<Line> parse_lines_one_by_one(std::string_view bytes) {
  std::vector<Line> lines;
  zr::json::Parser parser;
  size_t pos = 0;
  while (pos <= bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    std::optional<zr::json::Value> reference = zr::fuzz::reference_parse(line);
    Line parsed{line, {}};
    if (parser.ParseInto(line, 0, parsed.value) != reference.has_value()) {
      fail("a line's acceptance differs from the reference", line);
    }
    if (reference) lines.push_back(std::move(parsed));
  }
  return lines;
}

void expect_same(const std::vector<zr::json::Value>& got, const std::vector<const Line*>& want,
                 std::string_view what, std::string_view input) {
  if (got.size() != want.size()) {
    fail(std::string(what) + ": " + std::to_string(got.size()) + " values instead of " + std::to_string(want.size()),
         input);
  }
  for (size_t i = 0; i < got.size(); ++i) {
    if (!zr::fuzz::same_value(got[i], want[i]->value)) fail(std::string(what) + ": a value differs", input);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  static const std::string path = zr::base::path_join(zr::fuzz::scratch_dir(), "lines.jsonl");
  zr::fuzz::write_whole_file(path, bytes);

  const std::vector<Line> lines = parse_lines_one_by_one(bytes);
  std::vector<const Line*> all;
  for (const Line& line : lines) all.push_back(&line);

  zr::base::Result<std::vector<zr::json::Value>> read = zr::store::jsonl_read(path);
  if (!read.ok()) fail("jsonl_read fails: " + read.status().message(), bytes);
  expect_same(*read, all, "jsonl_read", bytes);

  // A needle taken from the middle of the input, so that it often occurs.
  if (size >= 2) {
    const std::string needle(bytes.substr(size / 2, 2));
    std::vector<const Line*> containing;
    for (const Line& line : lines) {
      if (line.text.find(needle) != std::string_view::npos) containing.push_back(&line);
    }
    zr::base::Result<std::vector<zr::json::Value>> filtered = zr::store::jsonl_read_filtered(path, {needle});
    if (!filtered.ok()) fail("jsonl_read_filtered fails: " + filtered.status().message(), bytes);
    expect_same(*filtered, containing, "jsonl_read_filtered", bytes);
  }
  return 0;
}
