#include "maintenance/store_merge_tokens.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/byte_arena.h"
#include "base/file_system.h"
#include "base/view_set.h"
#include "store/flat_object.h"
#include "token_index/chunk_files.h"
#include "token_index/entry_view.h"
#include "token_index/read_entries.h"
#include "token_index/token_index_entry.h"
#include "token_index/token_index_names.h"
#include "token_index/token_status.h"

namespace zr::maintenance {

namespace {

using token_index::ChunkFile;
using token_index::FastRead;
using token_index::PlainEntryView;
using token_index::TokenIndexEntry;

// Entries of one tokenizer's merged directory, one line at a time, each
// with its identity encoded as one byte string: the count's eight bytes,
// then the tokenizer and each source (in ascending byte order), each after
// its length, so that no two identities share an encoding.
class EntryReader {
 public:
  explicit EntryReader(MergeRoute route) : route_(route) {}

  // False when the line is no valid entry.
  bool Read(std::string_view line, size_t readable_after) {
    plain_ = route_ == MergeRoute::kQuick && token_index::read_plain_entry_view(line, view_) == FastRead::kEntry;
    sources_.clear();
    if (plain_) {
      store::for_each_flat_string(view_.sources, [&](std::string_view source) { sources_.push_back(source); });
      EncodeIdentity(view_.token_count, view_.tokenizer);
      return true;
    }
    std::optional<TokenIndexEntry> entry = token_index::parse_entry_line(parser_, line, readable_after);
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
  PlainEntryView view_;
  TokenIndexEntry entry_;
  std::vector<std::string_view> sources_;
  std::string identity_;
};

// Calls fn() for each valid entry of `chunks`, in merged order, once
// `reader` has read it.
template <typename Fn>
base::Status for_each_entry(const std::vector<ChunkFile>& chunks, EntryReader& reader, Fn&& fn) {
  return token_index::for_each_entry_line(
      chunks, [&](std::string_view line, size_t readable_after, const token_index::EntryLocation&) {
        return reader.Read(line, readable_after) ? fn() : base::Status();
      });
}

}  // namespace

base::Result<TokenMergeCounts> merge_token_entries(std::string_view source, std::string_view target,
                                                   MergeRoute route) {
  TokenMergeCounts counts;
  EntryReader reader(route);
  ZR_ASSIGN_OR_RETURN(std::vector<std::string> tokenizers, token_index::token_index_list_tokenizers(source));
  for (const std::string& tokenizer : tokenizers) {
    ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> source_chunks, token_index::token_index_chunk_files(source, tokenizer));
    ZR_ASSIGN_OR_RETURN(std::vector<ChunkFile> target_chunks, token_index::token_index_chunk_files(target, tokenizer));

    // Identities are encoded copies, kept in the arena for the set to view.
    base::ViewSet<1> held;
    base::ByteArena arena;
    auto insert = [&] {
      return held.InsertWith({reader.identity()}, [&](const base::ViewSet<1>::Key& key) {
        return base::ViewSet<1>::Key{arena.Keep(key[0])};
      });
    };
    ZR_RETURN_IF_ERROR(for_each_entry(target_chunks, reader, [&] {
      insert();
      return base::Status();
    }));

    ZR_RETURN_IF_ERROR(base::make_directories(token_index::merged_dir_path(target, tokenizer)));

    std::string chunk_text;
    ZR_RETURN_IF_ERROR(for_each_entry(source_chunks, reader, [&] {
      if (!insert()) {
        ++counts.skipped;
        return base::Status();
      }
      reader.AppendLine(chunk_text);
      ++counts.added;
      return base::Status();
    }));
    // One chunk file, written whole under the next free number: readers never
    // see it half-written.
    if (!chunk_text.empty()) {
      ZR_RETURN_IF_ERROR(token_index::token_index_add_chunk(target, tokenizer, chunk_text).status());
    }
  }
  return counts;
}

}  // namespace zr::maintenance
