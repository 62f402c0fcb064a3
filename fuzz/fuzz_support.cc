#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "base/file.h"

namespace zr::fuzz {

namespace {

std::string make_scratch_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zr-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

struct ScratchDir {
  std::string path = make_scratch_dir();
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// Escapes everything but printable ASCII, so a report shows every byte.
std::string printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace

const std::string& scratch_dir() {
  static ScratchDir dir;
  return dir.path;
}

void write_whole_file(const std::string& path, std::string_view bytes) {
  base::Status status = base::write_file(path, bytes);
  if (!status.ok()) fail("cannot write " + path + ": " + status.message(), "");
}

void fail(std::string_view what, std::string_view input) {
  std::fprintf(stderr, "\n== %.*s\n== input (%zu bytes): %s\n", static_cast<int>(what.size()), what.data(),
               input.size(), printable(input.substr(0, 4096)).c_str());
  std::abort();
}

}  // namespace zr::fuzz
