#include "purge/stale_pending.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/file.h"
#include "base/file_system.h"
#include "json/parse.h"
#include "json/write.h"
#include "purge/archive.h"
#include "store/record_archive_io.h"
#include "store/content_hash.h"
#include "store/jsonl.h"
#include "store/sha256.h"

namespace zr::purge {

namespace {

struct KeyHasher {
  size_t operator()(const store::HashKey& key) const {
    uint64_t word;
    std::memcpy(&word, key.data(), sizeof word);  // a digest's bytes are already well mixed
    return static_cast<size_t>(word);
  }
};

// Copies of lines, by content hash.
using LineCounts = std::unordered_map<store::HashKey, uint64_t, KeyHasher>;
using DigestSet = std::unordered_set<store::HashKey, KeyHasher>;

struct PendingPair {
  std::string note_path;
  std::string stamp;
  PendingNote note;
  bool unchanged = false;              // the data file was never replaced
  std::vector<store::HashKey> lines;   // one per record, repeats kept
};

struct PurgeArchive {
  std::string stamp;
  LineCounts counts;  // of the lines some pending record needs
};

bool in_scope(const PendingNote& note, const std::optional<std::string>& only_data_file) {
  return !only_data_file || note.data_file == *only_data_file;
}

std::optional<PendingNote> read_note(const std::string& note_path) {
  base::Result<base::MappedFile> text = base::MappedFile::Open(note_path);
  if (!text.ok()) return std::nullopt;
  return parse_pending_note(text->view());
}

// Calls fn(digest) for the `line` value of every record of an archive file.
template <typename Fn>
base::Status for_each_archived_line(const std::string& path, Fn&& fn) {
  std::string compact;
  store::HashKey digest;
  return store::for_each_record(path, [&](const json::Value& record) {
    const json::Value* line = record.find("line");
    if (line == nullptr) return base::Status();  // restores nothing, so needs no copy
    compact.clear();
    json::append_compact(compact, *line);
    store::sha256(compact, digest);
    fn(digest);
    return base::Status();
  });
}

// Counts the lines of a data file whose hash is in `needed`, split and
// hashed as the purge pass does. A file that no longer exists holds none;
// nullopt when it cannot be read.
std::optional<LineCounts> count_data_file_lines(const std::string& path, const DigestSet& needed) {
  base::Result<base::MappedFile> mapped = base::MappedFile::OpenIfExists(path);
  if (!mapped.ok()) return std::nullopt;
  LineCounts counts;
  json::Parser parser;
  std::string canonical;
  store::HashKey digest;
  store::for_each_line(mapped->view(), [&](std::string_view line, size_t readable_after) {
    if (!parser.Canonicalize(line, readable_after, canonical)) return;
    store::sha256(canonical, digest);
    if (needed.contains(digest)) ++counts[digest];
  });
  return counts;
}

bool take(LineCounts& counts, const store::HashKey& line) {
  auto it = counts.find(line);
  if (it == counts.end() || it->second == 0) return false;
  --it->second;
  return true;
}

// The pairs of the archive directory that have records and a note that
// parses; notes left without records are removed on the way.
std::vector<PendingPair> find_pairs(const std::string& dir, const std::vector<base::DirEntry>& entries,
                                    const std::optional<std::string>& only_data_file) {
  std::vector<PendingPair> pairs;
  for (const base::DirEntry& entry : entries) {
    if (!is_pending_note_name(entry.name)) continue;
    PendingPair pair;
    pair.note_path = base::path_join(dir, entry.name);
    pair.stamp = entry.name.substr(kPendingArchivePrefix.size(), kPurgeStampLength);
    base::Result<base::PathKind> records_kind = base::path_kind(pending_records_path(pair.note_path));
    if (!records_kind.ok()) continue;  // cannot tell: the pair stays
    std::optional<PendingNote> note = read_note(pair.note_path);
    if (*records_kind == base::PathKind::kMissing) {
      // Promoted (or never begun): the note alone is all that is left.
      if (!only_data_file || (note && in_scope(*note, only_data_file))) (void)base::remove_file(pair.note_path);
      continue;
    }
    if (!note) continue;
    pair.note = std::move(*note);
    pair.unchanged = data_file_unchanged(pair.note);
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

// Reads the records of the pairs and the purge archives, and marks the
// pairs whose every record is matched elsewhere (rules in the header).
// False when something that could vouch or need could not be read.
bool judge_by_content(const std::string& dir, const std::vector<base::DirEntry>& entries,
                      std::vector<PendingPair>& pairs, std::vector<bool>& stale) {
  DigestSet needed;
  for (PendingPair& pair : pairs) {
    base::Status read = for_each_archived_line(pending_records_path(pair.note_path), [&](const store::HashKey& line) {
      pair.lines.push_back(line);
      needed.insert(line);
    });
    if (!read.ok()) return false;
  }

  std::vector<PurgeArchive> archives;
  for (const base::DirEntry& entry : entries) {
    if (!entry.name.starts_with(kPurgeArchivePrefix)) continue;
    PurgeArchive archive{entry.name.substr(kPurgeArchivePrefix.size()), {}};
    base::Status read = for_each_archived_line(base::path_join(dir, entry.name), [&](const store::HashKey& line) {
      if (needed.contains(line)) ++archive.counts[line];
    });
    if (!read.ok()) return false;
    archives.push_back(std::move(archive));
  }

  // Each data file that a pair to be judged names is read once, for all
  // the pairs that name it.
  std::unordered_map<std::string, std::optional<LineCounts>> data_files;
  for (const PendingPair& pair : pairs) {
    if (!pair.unchanged && !data_files.contains(pair.note.data_file)) {
      data_files.emplace(pair.note.data_file, count_data_file_lines(pair.note.data_file, needed));
    }
  }

  // Lines a never-replaced file holds for its own pending records are spoken for.
  for (const PendingPair& pair : pairs) {
    auto held = data_files.find(pair.note.data_file);
    if (!pair.unchanged || held == data_files.end() || !held->second) continue;
    for (const store::HashKey& line : pair.lines) take(*held->second, line);
  }

  std::vector<size_t> order;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (!pairs[i].unchanged) order.push_back(i);
  }
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return std::tie(pairs[a].stamp, pairs[a].note_path) > std::tie(pairs[b].stamp, pairs[b].note_path);
  });
  for (size_t i : order) {
    const PendingPair& pair = pairs[i];
    std::optional<LineCounts>& held = data_files[pair.note.data_file];
    bool all_matched = held.has_value();
    for (const store::HashKey& line : pair.lines) {
      bool matched = held && take(*held, line);
      for (size_t a = 0; !matched && a < archives.size(); ++a) {
        matched = archives[a].stamp >= pair.stamp && take(archives[a].counts, line);
      }
      all_matched = all_matched && matched;
    }
    stale[i] = all_matched;
  }
  return true;
}

}  // namespace

void discard_stale_pending_purges(std::string_view zr_dir, const std::optional<std::string>& only_data_file) {
  const std::string dir = archive_dir(zr_dir);
  base::Result<std::vector<base::DirEntry>> entries = base::list_directory(dir);
  if (!entries.ok()) return;
  std::vector<PendingPair> pairs = find_pairs(dir, *entries, only_data_file);

  std::vector<bool> stale(pairs.size(), false);
  for (size_t i = 0; i < pairs.size(); ++i) stale[i] = pairs[i].unchanged;
  // Only a replaced pair of the data files in question can be judged stale
  // by content; the others' judgement would be read for nothing.
  const bool any_replaced = std::any_of(pairs.begin(), pairs.end(), [&](const PendingPair& p) {
    return !p.unchanged && in_scope(p.note, only_data_file);
  });
  if (any_replaced && !judge_by_content(dir, *entries, pairs, stale)) {
    for (size_t i = 0; i < pairs.size(); ++i) stale[i] = pairs[i].unchanged;
  }

  for (size_t i = 0; i < pairs.size(); ++i) {
    if (stale[i] && in_scope(pairs[i].note, only_data_file)) remove_pending_pair(pairs[i].note_path);
  }
}

}  // namespace zr::purge
