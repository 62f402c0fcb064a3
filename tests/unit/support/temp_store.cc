#include "support/temp_store.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace zr::test {

namespace fs = std::filesystem;

void TempStoreTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "zr-test-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
}

void TempStoreTest::TearDown() {
  std::error_code ignored;
  if (!root_.empty()) fs::remove_all(root_, ignored);
}

void TokenChunksTest::SetUp() {
  TempStoreTest::SetUp();
  fs::create_directories(merged());
}

std::string TempStoreTest::read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void TempStoreTest::write(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void TempStoreTest::append(const std::string& path, std::string_view bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

std::map<std::string, std::string> TempStoreTest::files_under(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename() == "log") continue;
    files[fs::relative(entry.path(), dir).string()] = read(entry.path().string());
  }
  return files;
}

}  // namespace zr::test
