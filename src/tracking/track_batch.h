// Tracking many lines of data in one call. Each line is read as the store's
// JSON Lines readers read it (so a line is tracked exactly when a later
// purge or blame can find it again), and each file the records go to is
// written once per bounded batch instead of once per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zr::tracking {

// The lines of one call. Most are borrowed: the caller keeps their bytes
// alive and unchanged until the batch is gone, so that millions of lines
// are not copied once more before they are read. Lines the caller cannot
// vouch for are copied in.
class LineBatch {
 public:
  // One line without its "\n", read in place: the caller keeps its bytes as
  // they are for as long as the batch lives.
  void add_borrowed(std::string_view line) { lines_.push_back(Span{line.data(), line.size()}); }
  // One line without its "\n", copied.
  void add(std::string_view line) { add_borrowed(copies_.emplace_back(line)); }
  // A line that is no text at all (say, a str the caller could not encode):
  // never tracked, it keeps its place in the results.
  void add_unreadable() { lines_.push_back(Span{nullptr, kUnreadable}); }
  void reserve(size_t lines) { lines_.reserve(lines_.size() + lines); }

  size_t size() const { return lines_.size(); }
  // The text of line `i` as the JSON Lines readers read it: a final "\r"
  // dropped. nullopt when it is unreadable, or holds a "\n" (then it is no
  // line of a file).
  std::optional<std::string_view> text(size_t i) const;

 private:
  struct Span {
    const char* data;
    size_t size;  // kUnreadable for a line that is none
  };
  static constexpr size_t kUnreadable = static_cast<size_t>(-1);

  std::vector<Span> lines_;
  std::deque<std::string> copies_;  // a deque never moves what it holds
};

// Each line's hash, or none for a line that was not tracked: one buffer of
// hex digits for all lines, as there may be millions.
class LineHashes {
 public:
  static constexpr size_t kHexLength = 64;

  explicit LineHashes(size_t lines) : hex_(lines * kHexLength, '0'), tracked_(lines, false) {}

  size_t size() const { return tracked_.size(); }
  bool tracked(size_t i) const { return tracked_[i]; }
  std::string_view hash(size_t i) const { return std::string_view(hex_).substr(i * kHexLength, kHexLength); }
  // Marks line `i` tracked and returns where its hash goes.
  char* set(size_t i) {
    tracked_[i] = true;
    return hex_.data() + i * kHexLength;
  }

  bool operator==(const LineHashes&) const = default;

 private:
  std::string hex_;
  std::vector<bool> tracked_;
};

// How many lines, and how many bytes of records, one batch gathers at most
// before its files are written.
struct BatchBounds {
  size_t max_lines = 65536;
  size_t max_record_bytes = size_t{8} << 20;
};

// Tracks every line that reads as one JSON value, as track() would track
// that value: the same document-index line, and the same token-index entry
// when a tokenizer and the line's count are given (`token_counts` is empty,
// or holds one entry per line). Records go out in line order, each file
// (document-index shard, this process's token file) written once per batch
// after the check for a cut-off last line. Returns each line's hash, none
// for a line that is blank, not JSON or unreadable: nothing is written for
// those. The tokenizer name is checked before anything is
// written, as track() checks it. A failed or killed write stops the call:
// every file then holds the records of the batches before, and of the
// failed batch a prefix (a write cut short leaves a fragment of a line,
// which the next append's check sets apart).
base::Result<LineHashes> track_lines(const LineBatch& lines, const std::vector<std::optional<uint64_t>>& token_counts,
                                     std::string_view file, const std::vector<std::string>& sources,
                                     std::string_view zr_dir, std::optional<std::string_view> tokenizer,
                                     BatchBounds bounds = {});

}  // namespace zr::tracking
