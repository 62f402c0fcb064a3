// Bulk tracking's batches: however the lines are cut into batches, the store
// and the hashes are the same, since every file takes each batch's records
// in line order; lines read in place and lines copied are read alike. The equality with tracking line by line is tested from
// Python; batch sizes below the built-in bounds can only be set from here.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/init.h"
#include "support/random_json.h"
#include "support/temp_store.h"
#include "tracking/track_batch.h"

namespace zr::tracking {
namespace {

class TrackBatch : public test::TempStoreTest {
 protected:
  // The store built from `lines` in batches of `bounds`, in a store of its own.
  std::map<std::string, std::string> store_of(const LineBatch& lines,
                                              const std::vector<std::optional<uint64_t>>& counts, BatchBounds bounds,
                                              std::optional<LineHashes>& hashes) {
    const std::string root = path("store" + std::to_string(stores_++));
    EXPECT_TRUE(store::init_store(root).ok());
    auto tracked = track_lines(lines, counts, "data.jsonl", {"s1", "s\"2"}, root, "tk", bounds);
    EXPECT_TRUE(tracked.ok()) << tracked.status().ToString();
    if (tracked.ok()) hashes = *tracked;
    std::map<std::string, std::string> named;  // this process's token file under one name
    for (auto& [name, bytes] : files_under(root + "/.zr")) {
      named[name.starts_with("token-index.tk.") ? "token-index.tk.pid" : name] = bytes;
    }
    return named;
  }

  int stores_ = 0;
};

TEST_F(TrackBatch, AnyBatchBoundsGiveTheSameStoreAndHashes) {
  test::RandomJson random(7, test::JsonShape{.any_top_value = true});
  LineBatch lines;
  std::vector<std::optional<uint64_t>> counts;
  // Every other line is borrowed from an allocation of exactly its size, so
  // that reading a byte past one is caught by the address sanitizer.
  std::vector<std::unique_ptr<char[]>> borrowed;
  for (int i = 0; i < 300; ++i) {
    std::string text = random.text();
    if (random.pick(4) == 0) random.damage(text);
    if (random.pick(8) == 0) text += '\r';
    if (i % 2 == 0) {
      lines.add(text);
    } else {
      borrowed.push_back(std::make_unique<char[]>(text.size()));
      std::copy(text.begin(), text.end(), borrowed.back().get());
      lines.add_borrowed(std::string_view(borrowed.back().get(), text.size()));
    }
    counts.push_back(random.pick(3) == 0 ? std::nullopt : std::optional<uint64_t>(random.pick(1000)));
  }
  std::optional<LineHashes> expected_hashes;
  const auto expected = store_of(lines, counts, BatchBounds{}, expected_hashes);
  ASSERT_GT(expected.size(), 50u);
  for (BatchBounds bounds : {BatchBounds{1, 1 << 20}, BatchBounds{7, 1 << 20}, BatchBounds{1000, 1},
                             BatchBounds{1000, 900}}) {
    std::optional<LineHashes> hashes;
    EXPECT_EQ(store_of(lines, counts, bounds, hashes), expected)
        << bounds.max_lines << " lines, " << bounds.max_record_bytes << " bytes";
    EXPECT_EQ(hashes, expected_hashes);
  }
}

}  // namespace
}  // namespace zr::tracking
