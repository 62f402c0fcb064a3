// The quick routes of the store merge and of the document filters, and the
// merge by shard range, against their full counterparts, on random and
// damaged lines.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/layer_scans.h"
#include "maintenance/range_merge.h"
#include "maintenance/record_archive.h"
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

// Random stores with duplicates, rewrites, escapes, damaged lines and keys
// that name no shard, written layer by layer.
class RandomStores {
 public:
  explicit RandomStores(uint32_t seed) : random_(seed), rng_(random_.engine()) {
    for (int i = 0; i < 30; ++i) ids_.push_back(hex(64));
    for (int i = 0; i < 30; ++i) sections_.push_back(hex(64));
    for (int i = 0; i < 60; ++i) hashes_.push_back(hex(64));
    ids_.push_back("a");  // no shard
  }

  static constexpr const char* kLayers[] = {"authors", "sections", "document-index", "token-index.tk"};

  // Appends 300 lines to each of `layers` of the store under `root`. Layer
  // records go to random shard files, unless `placed`, where document-index
  // records go to the shard their line hash names (as every writer puts
  // them) and records with no line hash to a random one.
  void Fill(const fs::path& root, std::initializer_list<int> layers, bool placed = false) {
    for (int layer : layers) {
      for (int i = 0; i < 300; ++i) {
        std::string text = Line(layer);
        const std::string hash = layer == 2 ? last_pick_ : std::string();
        switch (rng_() % 8) {
          case 0: text = damaged(random_, text); break;
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
        std::string file = layer == 3 ? "00" + std::to_string(1 + rng_() % 2) : hex(2);
        if (placed && layer == 2 && text.find(hash) != std::string::npos && hash.size() >= 2) file = hash.substr(0, 2);
        test::TempStoreTest::append((root / ".zr" / kLayers[layer] / file).string(), text + "\n");
      }
    }
  }

 private:
  std::string hex(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back("0123456789abcdef"[rng_() % (i < 2 ? 3 : 16)]);
    return s;
  }
  const std::string& pick(const std::vector<std::string>& from) { return last_pick_ = from[rng_() % from.size()]; }

  std::string Line(int layer) {
    switch (layer) {
      case 0: return R"({"email":"e","id":")" + pick(ids_) + R"(","name":"n","revoked":false})";
      case 1: return R"({"authors":[")" + pick(ids_) + R"("],"section_hash":")" + pick(sections_) + R"("})";
      case 2: {
        const std::string file = "f" + std::to_string(rng_() % 3);
        const std::string hash = pick(hashes_);
        const std::string line =
            R"({"file":")" + file + R"(","line_hash":")" + hash + R"(","sources":[")" + pick(sections_) + R"("]})";
        last_pick_ = hash;
        return line;
      }
      default: return R"({"token_count":)" + std::to_string(rng_() % 4) + R"(,"sources":[")" + pick(sections_) +
                      R"(",")" + pick(sections_) + R"("],"tokenizer":"tk","revoked":)" +
                      (rng_() % 2 ? "true" : "false") + "}";
    }
  }

  test::RandomJson random_;
  std::mt19937& rng_;
  std::vector<std::string> ids_, sections_, hashes_;
  std::string last_pick_;
};

using MergeRoutesTest = test::TempStoreTest;

// Both routes give the same counts and the same bytes in every target file,
// index.bin included.
TEST_F(MergeRoutesTest, QuickAndFullRoutesWriteTheSameStore) {
  RandomStores stores(20240615);
  for (int round = 0; round < 4; ++round) {
    const fs::path source = fs::path(root_) / ("source" + std::to_string(round));
    const fs::path target = fs::path(root_) / ("target" + std::to_string(round));
    ASSERT_TRUE(store::init_store(source.string()).ok());
    ASSERT_TRUE(store::init_store(target.string()).ok());
    for (const fs::path& store : {source, target}) stores.Fill(store, {0, 1, 2, 3});
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

// A source cut into pieces, each piece split by shard range, the ranges
// merged over the pieces and absorbed one by one, then the token entries:
// the target's document index and token index come out byte for byte as
// after merge_absorb of the whole source, with the same counts, however
// many ranges, whether merged texts are taken as they are or read.
TEST_F(MergeRoutesTest, MergingByShardRangeWritesWhatAWholeMergeWrites) {
  RandomStores stores(20240616);
  for (size_t ranges : {1, 3, 256}) {
    const std::string tag = std::to_string(ranges);
    std::vector<fs::path> pieces;
    for (int piece = 0; piece < 3; ++piece) {
      pieces.push_back(fs::path(root_) / ("piece" + tag + "-" + std::to_string(piece)));
      ASSERT_TRUE(store::init_store(pieces.back().string()).ok());
      stores.Fill(pieces.back(), {2, 3});
    }
    // The whole source: the pieces' records one after another.
    const fs::path whole = fs::path(root_) / ("whole" + tag);
    ASSERT_TRUE(store::init_store(whole.string()).ok());
    for (const char* layer : {"document-index", "token-index.tk"}) {
      for (const fs::path& piece : pieces) {
        for (const auto& entry : fs::directory_iterator(piece / ".zr" / layer)) {
          // One file per layer keeps the whole source's reading order the pieces' order.
          append((whole / ".zr" / layer / (std::string(layer) == "document-index" ? "00" : "001")).string(),
                 read(entry.path().string()));
        }
      }
    }
    const fs::path expected = fs::path(root_) / ("expected" + tag);
    ASSERT_TRUE(store::init_store(expected.string()).ok());
    // A target with no document records takes every merged text as it is.
    if (ranges != 3) stores.Fill(expected, {2, 3}, /*placed=*/true);
    // One target takes the merged texts as they are where it can, the other
    // reads every record.
    const fs::path target = fs::path(root_) / ("target" + tag);
    const fs::path read_target = fs::path(root_) / ("read" + tag);
    fs::copy(expected, target, fs::copy_options::recursive);
    fs::copy(expected, read_target, fs::copy_options::recursive);

    base::Result<maintenance::StoreMergeCounts> reference = maintenance::merge_absorb(whole.string(), expected.string());
    ASSERT_TRUE(reference.ok());

    std::vector<maintenance::RecordTexts> splits;
    uint64_t skipped = 0;
    for (const fs::path& piece : pieces) {
      base::Result<maintenance::RecordTexts> split =
          maintenance::split_store_records(piece.string(), std::string_view("tk"), ranges);
      ASSERT_TRUE(split.ok());
      skipped += split->skipped;
      splits.push_back(std::move(*split));
    }
    uint64_t document_added = 0;
    for (size_t r = 0; r < ranges; ++r) {
      std::vector<std::string_view> texts;
      for (const auto& split : splits) texts.push_back(split.documents[r]);
      const maintenance::ShardTexts merged = maintenance::merge_document_texts(texts);
      skipped += merged.skipped;
      // All of a range's texts in one call, and one text a call.
      const std::vector<std::string_view> shard_texts(merged.texts.begin(), merged.texts.end());
      base::Result<maintenance::LayerMergeCounts> absorbed =
          maintenance::absorb_document_texts(target.string(), shard_texts, /*merged=*/true);
      ASSERT_TRUE(absorbed.ok());
      uint64_t read_added = 0;
      for (std::string_view text : shard_texts) {
        base::Result<maintenance::LayerMergeCounts> read =
            maintenance::absorb_document_texts(read_target.string(), std::span(&text, 1), /*merged=*/false);
        ASSERT_TRUE(read.ok());
        read_added += read->added;
      }
      EXPECT_EQ(absorbed->added, read_added);
      document_added += absorbed->added;
      skipped += absorbed->skipped;
    }
    std::vector<std::string_view> token_texts;
    for (const auto& split : splits) token_texts.push_back(split.tokens);
    const maintenance::RecordTexts tokens = maintenance::merge_token_texts(token_texts);
    base::Result<maintenance::TokenMergeCounts> absorbed =
        maintenance::absorb_token_text(target.string(), "tk", tokens.tokens);
    ASSERT_TRUE(absorbed.ok());
    skipped += tokens.skipped + absorbed->skipped;

    EXPECT_GT(reference->document_added, 0u);
    EXPECT_EQ(document_added, reference->document_added) << ranges;
    EXPECT_EQ(absorbed->added, reference->token_index_added) << ranges;
    EXPECT_EQ(skipped, reference->skipped) << ranges;
    for (const char* layer : {"document-index", "token-index.tk"}) {
      EXPECT_EQ(files_under((target / ".zr" / layer).string()), files_under((expected / ".zr" / layer).string()))
          << layer << ", " << ranges << " ranges";
    }
    EXPECT_EQ(files_under((read_target / ".zr/document-index").string()),
              files_under((expected / ".zr/document-index").string()));
  }
}

// Archiving flagged records while passing over lines without "true" finds
// what parsing every line finds: the same count and archive bytes, on
// records flagged or not, in every spelling, damaged or not.
TEST_F(MergeRoutesTest, QuickFlaggedReadArchivesWhatTheFullReadArchives) {
  const std::vector<std::string> seeds = {
      R"({"file":"f","line_hash":"ab01","revoked":true,"sources":["s"]})",
      R"({"file":"f","line_hash":"ab02","revoked":false,"sources":["true"]})",
      R"({"file":"f","line_hash":"cd03","orphan":true})",
      R"({"line_hash":"cd04","orphan" : true ,"revoked":false})",
      R"({"line_hash":"ef05","revoked":"true","x":[true]})",
      R"({"line_hash":"ef06","nested":{"revoked":true}})",
  };
  test::RandomJson random(20240617);
  std::mt19937& rng = random.engine();
  for (const fs::path& store : {fs::path(root_) / "quick", fs::path(root_) / "full"}) {
    ASSERT_TRUE(store::init_store(store.string()).ok());
    fs::create_directories(store / ".zr" / "archive");
  }
  for (int i = 0; i < 3000; ++i) {
    std::string line = seeds[rng() % seeds.size()];
    if (rng() % 3 == 0) line = damaged(random, line);
    const std::string shard = std::string(1, "abcdef"[rng() % 6]) + "b";
    for (const char* store : {"quick", "full"}) append(path(std::string(store) + "/.zr/document-index/" + shard), line + "\n");
  }
  base::Result<uint64_t> quick = maintenance::archive_flagged_records(
      path("quick"), path("quick/.zr/archive"), "document-index", "line_hash", maintenance::FlaggedRead::kQuick);
  base::Result<uint64_t> full = maintenance::archive_flagged_records(
      path("full"), path("full/.zr/archive"), "document-index", "line_hash", maintenance::FlaggedRead::kFull);
  ASSERT_TRUE(quick.ok() && full.ok());
  EXPECT_GT(*quick, 500u);
  EXPECT_EQ(*quick, *full);
  EXPECT_EQ(files_under(path("quick/.zr/archive")), files_under(path("full/.zr/archive")));
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
