// Reading token-index entries one line at a time with their identity, for
// every merge of token entries: a whole store into another, and the entries
// of a store tracked in pieces.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_arena.h"
#include "base/view_set.h"
#include "json/parse.h"
#include "maintenance/store_merge_layers.h"
#include "store/flat_object.h"
#include "token_index/chunk_files.h"
#include "token_index/entry_view.h"
#include "token_index/read_entries.h"
#include "token_index/token_index_entry.h"

namespace zr::maintenance {


// Entries of one tokenizer's merged directory, one line at a time, each
// with its identity encoded as one byte string: the count's eight bytes,
// then the tokenizer and each source (in ascending byte order), each after
// its length, so that no two identities share an encoding.
class EntryReader {
 public:
  explicit EntryReader(MergeRoute route) : route_(route) {}

  // False when the line is no valid entry.
  bool Read(std::string_view line, size_t readable_after) {
    plain_ = route_ == MergeRoute::kQuick && token_index::read_plain_entry_view(line, view_) == token_index::FastRead::kEntry;
    sources_.clear();
    if (plain_) {
      store::for_each_flat_string(view_.sources, [&](std::string_view source) { sources_.push_back(source); });
      EncodeIdentity(view_.token_count, view_.tokenizer);
      return true;
    }
    std::optional<token_index::TokenIndexEntry> entry = token_index::parse_entry_line(parser_, line, readable_after);
    if (!entry) return false;
    entry_ = std::move(*entry);
    sources_.assign(entry_.sources.begin(), entry_.sources.end());
    EncodeIdentity(entry_.token_count, entry_.tokenizer);
    return true;
  }

  // The identity of the entry last read; valid until the next Read.
  std::string_view identity() const { return identity_; }

  // Appends the entry last read in its stored form, "\n" included.
  void AppendLine(std::string& out) const {
    if (plain_) {
      token_index::append_plain_entry_line(out, view_);
    } else {
      out.append(token_index::entry_line(entry_));
    }
  }

 private:
  void AppendPart(std::string_view part) {
    const auto size = static_cast<uint32_t>(part.size());
    identity_.append(reinterpret_cast<const char*>(&size), sizeof size);
    identity_.append(part);
  }

  void EncodeIdentity(uint64_t token_count, std::string_view tokenizer) {
    std::sort(sources_.begin(), sources_.end());
    identity_.assign(reinterpret_cast<const char*>(&token_count), sizeof token_count);
    AppendPart(tokenizer);
    for (std::string_view source : sources_) AppendPart(source);
  }

  MergeRoute route_;
  json::Parser parser_;
  bool plain_ = false;
  token_index::PlainEntryView view_;
  token_index::TokenIndexEntry entry_;
  std::vector<std::string_view> sources_;
  std::string identity_;
};

// The identities of the entries a merge has seen, as encoded copies kept in
// an arena for the set to view.
class HeldEntryIdentities {
 public:
  // Inserts the identity of the entry `reader` read last; false when it is
  // already held.
  bool Insert(const EntryReader& reader) {
    return set_.InsertWith({reader.identity()}, [&](const base::ViewSet<1>::Key& key) {
      return base::ViewSet<1>::Key{arena_.Keep(key[0])};
    });
  }

 private:
  base::ViewSet<1> set_;
  base::ByteArena arena_;
};

// Calls fn() for each valid entry of `chunks`, in merged order, once
// `reader` has read it.
template <typename Fn>
base::Status for_each_entry(const std::vector<token_index::ChunkFile>& chunks, EntryReader& reader, Fn&& fn) {
  return token_index::for_each_entry_line(
      chunks, [&](std::string_view line, size_t readable_after, const token_index::EntryLocation&) {
        return reader.Read(line, readable_after) ? fn() : base::Status();
      });
}

}  // namespace zr::maintenance
