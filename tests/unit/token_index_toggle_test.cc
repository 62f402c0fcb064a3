// The text-preserving revocation used by revocation by author.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "token_index/toggle_matching.h"
#include "support/temp_store.h"

namespace zr::token_index {
namespace {

const std::string kH1(64, 'c');

class ToggleMatching : public test::TokenChunksTest {
 protected:
  uint64_t toggle(const std::vector<std::string>& targets) {
    base::Result<uint64_t> r = token_index_toggle_matching(root_, "tk", targets);
    EXPECT_TRUE(r.ok()) << r.status().ToString();
    return r.ok() ? *r : 0;
  }

};

TEST_F(ToggleMatching, ChangesOnlyMatchingEntriesAndKeepsEveryOtherLineByteForByte) {
  const std::string flipped_plain = R"({"token_count":1,"sources":[")" + kH1 + R"("],"tokenizer":"tk","revoked":true})";
  const std::string spaced = R"({"revoked":true, "sources": [")" + kH1 + R"(", "x"], "tokenizer":"tk","token_count":2,"extra":1})";
  const std::string flipped_spaced = R"({"token_count":2,"sources":[")" + kH1 + R"(","x"],"tokenizer":"tk","revoked":false})";
  const std::string elsewhere = R"({ "sources" : ["other"], "note": ")" + kH1 + R"(", "tokenizer":"tk","token_count":3,"revoked":false})";
  const std::string not_json = R"(not json ")" + kH1 + R"(")";
  const std::string one_char = R"([3,["a"],"tk",false])";
  const std::string escaped = R"({"token_count":4,"sources":["q\"uote"],"tokenizer":"tk","revoked":false})";
  write_chunk("001", R"({"token_count":1,"sources":[")" + kH1 + R"("],"tokenizer":"tk","revoked":false})" "\n" + spaced +
                   "\r\n\n\n" + elsewhere + "\r\n" + not_json + "\n" + one_char + "\n" + escaped);

  EXPECT_EQ(toggle({kH1, "a", "q\"uote", ""}), 2u);
  EXPECT_EQ(read_chunk("001"), flipped_plain + "\n" + flipped_spaced + "\n" + elsewhere + "\r\n" + not_json + "\n" +
                             one_char + "\n" + escaped + "\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(merged()), {}), 1);

  // A second call flips both back; the rewritten line form stays.
  EXPECT_EQ(toggle({kH1}), 2u);
  std::string restored = read_chunk("001");
  EXPECT_EQ(restored.substr(0, restored.find('\n')),
            R"({"token_count":1,"sources":[")" + kH1 + R"("],"tokenizer":"tk","revoked":false})");
  EXPECT_NE(restored.find(R"(,"x"],"tokenizer":"tk","revoked":true})"), std::string::npos);
}

TEST_F(ToggleMatching, FilesWithoutChangeAreNotRewritten) {
  const std::string text = "\n{\"token_count\":1,\"sources\":[\"zz\"],\"tokenizer\":\"tk\",\"revoked\":false}\r\n\n[1";
  write_chunk("002", text);
  write_chunk("+3", "{\"token_count\":1,\"sources\":[\"zz\"],\"tokenizer\":\"tk\",\"revoked\":false}");
  EXPECT_EQ(toggle({kH1, "z"}), 0u);
  EXPECT_EQ(read_chunk("002"), text);
  EXPECT_EQ(toggle({"zz"}), 2u);  // "+3" is a chunk file too
  EXPECT_EQ(read_chunk("+3"), "{\"token_count\":1,\"sources\":[\"zz\"],\"tokenizer\":\"tk\",\"revoked\":true}\n");
}

TEST_F(ToggleMatching, NothingToDoAndUnsafeNames) {
  std::filesystem::remove_all(merged());
  EXPECT_EQ(toggle({kH1}), 0u);
  base::Result<uint64_t> bad = token_index_toggle_matching(root_, "a/b", {kH1});
  ASSERT_FALSE(bad.ok());
}

}  // namespace
}  // namespace zr::token_index
