// Reading the identity of one layer record at a time, and holding the
// identities a merge has seen, for every merge of layer records: a whole
// store into another, and the shard ranges of a store tracked in pieces.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_arena.h"
#include "base/file.h"
#include "base/view_set.h"
#include "json/parse.h"
#include "json/write.h"
#include "maintenance/store_merge_layers.h"
#include "store/flat_object.h"
#include "store/jsonl.h"
#include "store/record_archive_io.h"

namespace zr::maintenance {

using IdentitySet = base::ViewSet<2>;

enum class LineKind { kNotRecord, kNoIdentity, kIdentity };

// Reads the identity of one line's record at a time. Lines of the flat form
// are scanned in place, so their identities view the line itself; others
// are parsed, and their identities view the parsed record until the next
// line is read.
class IdentityReader {
 public:
  IdentityReader(const LayerIdentity& kind, MergeRoute route)
      : keys_(kind.members.data(), kind.member_count), route_(route) {}

  LineKind Read(std::string_view line, size_t readable_after) {
    line_ = line;
    readable_after_ = readable_after;
    key_ = {};
    std::array<store::FlatField, 2> fields;
    parsed_ = route_ == MergeRoute::kFull ||
              !store::scan_flat_object_canonical(line, keys_, std::span(fields).first(keys_.size()), canonical_);
    if (parsed_) {
      canonical_ = false;
      if (!parser_.ParseInto(line, readable_after, record_)) return LineKind::kNotRecord;
      for (size_t i = 0; i < keys_.size(); ++i) {
        const json::Value* member = record_.find(keys_[i]);
        if (member == nullptr || !member->is_string()) return LineKind::kNoIdentity;
        key_[i] = member->as_string();
      }
      return LineKind::kIdentity;
    }
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (fields[i].kind != store::FlatKind::kString) return LineKind::kNoIdentity;
      key_[i] = fields[i].text;
    }
    return LineKind::kIdentity;
  }

  const IdentitySet::Key& key() const { return key_; }
  // Whether key() views the line (and so lives as long as its text).
  bool key_in_line() const { return !parsed_; }

  // Appends the record as a copy writes it, compact with sorted keys, and
  // "\n"; returns the bytes appended.
  size_t AppendCompact(std::string& out) {
    const size_t before = out.size();
    if (canonical_) {
      out.append(line_);
    } else {
      // A flat line that needs rewriting is parsed only now.
      if (!parsed_) (void)parser_.ParseInto(line_, readable_after_, record_);
      json::append_compact(out, record_);
    }
    out.push_back('\n');
    return out.size() - before;
  }

 private:
  std::span<const std::string_view> keys_;
  MergeRoute route_;
  json::Parser parser_;
  json::Value record_;
  std::string_view line_;
  size_t readable_after_ = 0;
  bool parsed_ = false;
  bool canonical_ = false;
  IdentitySet::Key key_;
};

// The identities of a layer's records, viewing the layer's mapped files (and
// an arena for identities that had to be parsed), which it keeps.
class HeldIdentities {
 public:
  // Inserts the reader's current key; false when it is already held.
  bool Insert(const IdentityReader& reader) {
    if (reader.key_in_line()) return set_.Insert(reader.key());
    return set_.InsertWith(reader.key(), [&](const IdentitySet::Key& key) {
      IdentitySet::Key kept;
      for (size_t i = 0; i < kept.size(); ++i) kept[i] = arena_.Keep(key[i]);
      return kept;
    });
  }

  void KeepMapped(base::MappedFile file) { files_.push_back(std::move(file)); }
  void Reserve(size_t count) { set_.Reserve(count); }
  size_t size() const { return set_.size(); }

 private:
  IdentitySet set_;
  base::ByteArena arena_;
  std::vector<base::MappedFile> files_;
};


// Calls fn(line, readable_after) for every line of every regular file of a
// layer, keeping each mapping in `held` so that views of it stay valid.
template <typename Fn>
base::Status for_each_layer_line(std::string_view zr_dir, std::string_view layer, HeldIdentities& held, Fn&& fn) {
  return store::for_each_layer_file(zr_dir, layer, [&](const std::string& path) {
    ZR_ASSIGN_OR_RETURN(base::MappedFile file, store::map_record_file(path));
    const std::string_view text = file.view();
    held.KeepMapped(std::move(file));
    base::Status status;
    store::for_each_line(text, [&](std::string_view line, size_t readable_after) {
      if (status.ok()) status = fn(line, readable_after);
    });
    return status;
  });
}

}  // namespace zr::maintenance
