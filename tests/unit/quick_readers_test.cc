// The quick routes of the store merge and of the document filters against
// their full counterparts, on random and damaged lines.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/layer_scans.h"
#include "maintenance/store_merge.h"
#include "store/flat_object.h"
#include "store/init.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/jsonl.h"
#include "tracking/document_record.h"
#include "support/random_json.h"
#include "support/temp_store.h"

namespace zr {
namespace {

namespace fs = std::filesystem;

// Damage draws from structure, escapes, odd bytes and the letters of the
// layers' keys, so that a key can become another one.
constexpr std::string_view kAlphabet = "{}[]\":, \t\r-019.etruefalsnl\\\xc3\xa9\xff\x01" "abidfilesourc_h";

// One to three edits.
std::string damaged(test::RandomJson& random, const std::string& line) {
  return random.damaged(line, 1 + random.pick(3), kAlphabet);
}

TEST(FlatObjectCanonical, OnlyLinesTheWriterWouldWriteAreCopied) {
  constexpr std::array<std::string_view, 1> keys = {"id"};
  std::array<store::FlatField, 1> f;
  bool canonical = false;
  ASSERT_TRUE(store::scan_flat_object_canonical(R"({"a":[],"id":"x","n":-5,"z":null})", keys, f, canonical));
  EXPECT_TRUE(canonical);
  for (std::string_view rewritten : {R"({"id":"x", "a":1})", R"({"id":"x","a":1})", R"({"a":1,"a":2})",
                                     R"( {"id":"x"})", R"({"id":"x","n":-0})", R"({"s":[ "a"]})"}) {
    ASSERT_TRUE(store::scan_flat_object_canonical(rewritten, keys, f, canonical)) << rewritten;
    EXPECT_FALSE(canonical) << rewritten;
  }

  const std::vector<std::string> seeds = {R"({"email":"e","id":"3fab","name":"N","revoked":false})",
                                          R"({"a":["x","y"],"b":-12,"c":0,"id":"é"})"};
  test::RandomJson random(20240614);
  std::mt19937& rng = random.engine();
  json::Parser parser;
  int copied = 0;
  for (int round = 0; round < 30000; ++round) {
    const std::string line = damaged(random, seeds[rng() % seeds.size()]);
    if (!store::scan_flat_object_canonical(line, keys, f, canonical) || !canonical) continue;
    base::Result<json::Value> value = parser.Parse(line);
    ASSERT_TRUE(value.ok()) << line;
    ASSERT_EQ(json::to_compact(*value), line);
    ++copied;
  }
  EXPECT_GT(copied, 1000);
}

using MergeRoutesTest = test::TempStoreTest;

// Random stores with duplicates, rewrites, escapes, damaged lines and keys
// that name no shard: both routes give the same counts and the same bytes
// in every target file, index.bin included.
TEST_F(MergeRoutesTest, QuickAndFullRoutesWriteTheSameStore) {
  test::RandomJson random(20240615);
  std::mt19937& rng = random.engine();
  auto hex = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back("0123456789abcdef"[rng() % (i < 2 ? 3 : 16)]);
    return s;
  };
  for (int round = 0; round < 4; ++round) {
    const fs::path source = fs::path(root_) / ("source" + std::to_string(round));
    const fs::path target = fs::path(root_) / ("target" + std::to_string(round));
    ASSERT_TRUE(store::init_store(source.string()).ok());
    ASSERT_TRUE(store::init_store(target.string()).ok());
    std::vector<std::string> ids, sections, hashes;
    for (int i = 0; i < 30; ++i) ids.push_back(hex(64));
    for (int i = 0; i < 30; ++i) sections.push_back(hex(64));
    for (int i = 0; i < 60; ++i) hashes.push_back(hex(64));
    ids.push_back("a");  // no shard
    auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
    auto line = [&](int layer) -> std::string {
      switch (layer) {
        case 0: return R"({"email":"e","id":")" + pick(ids) + R"(","name":"n","revoked":false})";
        case 1: return R"({"authors":[")" + pick(ids) + R"("],"section_hash":")" + pick(sections) + R"("})";
        case 2: return R"({"file":"f)" + std::to_string(rng() % 3) + R"(","line_hash":")" + pick(hashes) +
                       R"(","sources":[")" + pick(sections) + R"("]})";
        default: return R"({"token_count":)" + std::to_string(rng() % 4) + R"(,"sources":[")" + pick(sections) +
                        R"(",")" + pick(sections) + R"("],"tokenizer":"tk","revoked":)" +
                        (rng() % 2 ? "true" : "false") + "}";
      }
    };
    const char* layers[] = {"authors", "sections", "document-index", "token-index.tk"};
    for (const fs::path& store : {source, target}) {
      for (int layer = 0; layer < 4; ++layer) {
        for (int i = 0; i < 300; ++i) {
          std::string text = line(layer);
          switch (rng() % 8) {
            case 0: text = damaged(random, text); break;
            case 1: text.insert(1, R"("x":{"y":[1,2.5]},)"); break;  // not flat
            case 2: text.insert(text.size() - 1, R"(,"aaa":1)"); break;  // keys out of order
            case 3: text += "\r"; break;
            case 4: {  // an escape in a value
              const size_t at = text.find("\":\"");
              if (at != std::string::npos) text.replace(at + 3, 1, "\\u0061");
              break;
            }
            default: break;
          }
          const std::string file = layer == 3 ? "00" + std::to_string(1 + rng() % 2) : hex(2);
          append((store / ".zr" / layers[layer] / file).string(), text + "\n");
        }
      }
    }
    const fs::path full = fs::path(root_) / ("full" + std::to_string(round));
    fs::copy(target, full, fs::copy_options::recursive);
    base::Result<maintenance::StoreMergeCounts> quick =
        maintenance::merge_absorb_by_route(source.string(), target.string(), maintenance::MergeRoute::kQuick);
    base::Result<maintenance::StoreMergeCounts> slow =
        maintenance::merge_absorb_by_route(source.string(), full.string(), maintenance::MergeRoute::kFull);
    ASSERT_TRUE(quick.ok() && slow.ok());
    EXPECT_GT(quick->document_added, 0u);
    EXPECT_GT(quick->skipped, 0u);
    EXPECT_EQ(quick->authors_added, slow->authors_added);
    EXPECT_EQ(quick->sections_added, slow->sections_added);
    EXPECT_EQ(quick->document_added, slow->document_added);
    EXPECT_EQ(quick->token_index_added, slow->token_index_added);
    EXPECT_EQ(quick->skipped, slow->skipped);
    EXPECT_EQ(files_under(target.string()), files_under(full.string())) << "round " << round;
  }
}

// Lines passed over unread must be lines the full reader finds nothing in:
// the filter's records equal those of parsing every line.
TEST(DocumentFilterQuickSkip, FindsWhatParsingEveryLineFinds) {
  const std::string wanted = std::string(64, 'a');
  const std::string other = std::string(63, 'a') + "b";
  const base::StringSet sections = {wanted, "", std::string(300, 'c')};
  const std::vector<std::string> seeds = {
      R"({"file":"f","line_hash":"h","sources":[")" + wanted + R"("]})",
      R"({"file":"f","line_hash":"h","sources":[")" + other + R"(",""]})",
      R"({"file":")" + wanted + R"(","line_hash":"h","sources":[")" + other + R"("]})",
      R"({"file":"f","line_hash":"h","sources":["\u0061)" + wanted.substr(1) + R"("]})",
      R"({"file":"f","line_hash":"h","sources":[")" + std::string(300, 'c') + R"("]})",
      R"(["h","f",[")" + wanted + R"("]])",
  };
  test::RandomJson random(20240616);
  std::mt19937& rng = random.engine();
  json::Parser parser;
  int found = 0;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
      const std::string& seed = seeds[rng() % seeds.size()];
      text += (rng() % 3 ? seed : damaged(random, seed)) + (rng() % 4 ? "\n" : "\r\n");
    }
    if (rng() % 2) text.pop_back();
    std::vector<tracking::DocumentRecord> expected, got;
    store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
      std::optional<tracking::DocumentRecord> record = tracking::parse_document_line(parser, line, readable_after);
      if (!record) return;
      for (const std::string& source : record->sources) {
        if (sections.contains(source)) {
          expected.push_back(*record);
          return;
        }
      }
    });
    index::DocumentFilter(sections).Collect(text, got);
    ASSERT_EQ(got, expected) << text;
    found += static_cast<int>(got.size());
  }
  EXPECT_GT(found, 1000);
}

}  // namespace
}  // namespace zr
