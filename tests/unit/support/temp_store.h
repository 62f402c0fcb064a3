// A fresh directory for one test's store, and the few file helpers the
// store tests share. The directory is made anew for every test and removed
// with all under it when the test ends, so tests never see each other's
// files, even when a crashed run left some behind.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

namespace zr::test {

class TempStoreTest : public ::testing::Test {
 public:
  // Whole-file reads and writes; a missing file reads as empty. Public, for
  // the generators of test stores too.
  static std::string read(const std::string& path);
  static void write(const std::string& path, std::string_view bytes);
  // Appends, making the parent directories first.
  static void append(const std::string& path, std::string_view bytes);
  // Every regular file under `dir` but the log (it holds the time), by path
  // relative to `dir`.
  static std::map<std::string, std::string> files_under(const std::string& dir);

 protected:
  void SetUp() override;
  void TearDown() override;

  // The folder the store lives in, and its `.zr` directory (not created:
  // tests decide whether a store exists).
  const std::string& root() const { return root_; }
  std::string store_dir() const { return root_ + "/.zr"; }
  std::string path(std::string_view relative) const { return root_ + "/" + std::string(relative); }

  std::string root_;
};

// A store holding only the chunk directory of the tokenizer "tk", which the
// token index tests fill by hand.
class TokenChunksTest : public TempStoreTest {
 protected:
  void SetUp() override;

  std::string merged() const { return store_dir() + "/token-index.tk"; }
  std::string binary_index_path() const { return store_dir() + "/token-index.tk.bin"; }
  void write_chunk(const std::string& name, const std::string& bytes) { write(merged() + "/" + name, bytes); }
  std::string read_chunk(const std::string& name) { return read(merged() + "/" + name); }
};

}  // namespace zr::test
