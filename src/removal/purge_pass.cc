#include "removal/purge_pass.h"

// The context-on-the-stack SHA-256 functions hash with the same code as the
// one-shot provider API without its per-call allocations; see content_hash.cc.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/file.h"
#include "base/worker_pool.h"
#include "removal/data_file_replacement.h"
#include "removal/prepared_log.h"
#include "removal/purge_archive.h"
#include "store/json_parse.h"

namespace zr::removal {

namespace {

// Chunks of the data file handed to the pool: several per thread, so that a
// slow chunk does not leave the other threads idle, but large enough that
// per-chunk set-up is negligible.
constexpr size_t kMinChunkBytes = 64 * 1024;
constexpr size_t kMaxChunkBytes = 4 * 1024 * 1024;
constexpr size_t kChunksPerThread = 16;

// Calls fn(line, readable_after) for every non-empty line that starts in
// [begin, end) of `text`, one trailing "\r" dropped; `readable_after` counts
// the bytes of the text after the line, which the parser may read ahead.
template <typename Fn>
void for_each_data_line(std::string_view text, size_t begin, size_t end, Fn&& fn) {
  const char* base = text.data();
  size_t pos = begin;
  while (pos < end) {
    const void* nl = std::memchr(base + pos, '\n', text.size() - pos);
    size_t stop = nl == nullptr ? text.size() : static_cast<size_t>(static_cast<const char*>(nl) - base);
    size_t line_end = stop;
    if (line_end > pos && base[line_end - 1] == '\r') --line_end;
    if (line_end > pos) fn(text.substr(pos, line_end - pos), text.size() - line_end);
    pos = stop + 1;
  }
}

// Chunk boundaries: 0, then positions just after a "\n", then the size.
std::vector<size_t> chunk_bounds(std::string_view text) {
  size_t threads = std::max<size_t>(1, WorkerPool::ThreadCount());
  size_t target = std::clamp(text.size() / (threads * kChunksPerThread), kMinChunkBytes, kMaxChunkBytes);
  std::vector<size_t> bounds{0};
  size_t pos = 0;
  while (text.size() - pos > target) {
    const void* nl = std::memchr(text.data() + pos + target, '\n', text.size() - pos - target);
    if (nl == nullptr) break;
    pos = static_cast<size_t>(static_cast<const char*>(nl) - text.data()) + 1;
    bounds.push_back(pos);
  }
  if (bounds.back() != text.size()) bounds.push_back(text.size());
  return bounds;
}

void sha256_digest(std::string_view bytes, HashKey& out) {
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, bytes.data(), bytes.size());
  SHA256_Final(out.data(), &context);
}

// The decisions of the lines of one chunk. Buffers are per chunk and reused
// for every line: nothing is allocated per line once they are warm.
std::vector<uint8_t> decide_chunk(std::string_view text, size_t begin, size_t end, const LineSet& lines) {
  std::vector<uint8_t> decisions;
  decisions.reserve((end - begin) / 128 + 1);
  if (lines.matches_nothing()) {
    for_each_data_line(text, begin, end, [&](std::string_view, size_t) { decisions.push_back(0); });
    return decisions;
  }
  json::Parser parser;
  std::string canonical;
  canonical.reserve(4096);
  HashKey digest;
  for_each_data_line(text, begin, end, [&](std::string_view line, size_t readable_after) {
    bool purge = false;
    if (parser.Canonicalize(line, readable_after, canonical)) {
      sha256_digest(canonical, digest);
      purge = lines.ContainsDigest(digest);
    }
    decisions.push_back(purge ? 1 : 0);
  });
  return decisions;
}

// Per-chunk decisions in chunk order.
std::vector<std::vector<uint8_t>> chunk_decisions(std::string_view text, const std::vector<size_t>& bounds,
                                                  const LineSet& lines) {
  return parallel_map(bounds.size() - 1,
                      [&](size_t i) { return decide_chunk(text, bounds[i], bounds[i + 1], lines); });
}

}  // namespace

std::vector<uint8_t> purge_decisions(std::string_view text, const LineSet& lines) {
  std::vector<uint8_t> all;
  for (const std::vector<uint8_t>& part : chunk_decisions(text, chunk_bounds(text), lines)) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

Result<PurgeCounts> purge_lines_by_hash(std::string_view zr_dir, const std::string& data_file, const LineSet& lines,
                                        const PurgeDetail& purge_detail, int64_t seconds) {
  const Status not_found = Status::Error("data file not found: " + data_file);
  if (path_kind(data_file) == PathKind::kMissing) return not_found;
  ZR_ASSIGN_OR_RETURN(MappedFile data, MappedFile::Open(data_file));
  if (data.size() == 0) return not_found;
  const std::string_view text = data.view();

  ZR_ASSIGN_OR_RETURN(PreparedLog log, PreparedLog::Open(zr_dir));

  const std::vector<size_t> bounds = chunk_bounds(text);
  const std::vector<std::vector<uint8_t>> decisions = chunk_decisions(text, bounds, lines);

  // Kept lines go to the replacement in order; removed ones are remembered
  // (as slices of the mapping) for the archive.
  PurgeCounts counts;
  ZR_ASSIGN_OR_RETURN(DataFileReplacement replacement, DataFileReplacement::Create(data_file));
  std::vector<std::string_view> removed;
  Status status;
  for (size_t c = 0; c + 1 < bounds.size() && status.ok(); ++c) {
    size_t i = 0;
    for_each_data_line(text, bounds[c], bounds[c + 1], [&](std::string_view line, size_t) {
      if (decisions[c][i++]) {
        removed.push_back(line);
      } else if (status.ok()) {
        status = replacement.WriteLine(line);
        ++counts.kept;
      }
    });
  }
  ZR_RETURN_IF_ERROR(status);
  ZR_RETURN_IF_ERROR(replacement.Finish());
  counts.purged = removed.size();

  std::optional<PurgeArchiveWriter> archive;
  if (!removed.empty()) {
    ZR_ASSIGN_OR_RETURN(PurgeArchiveWriter writer, PurgeArchiveWriter::Open(zr_dir, seconds));
    archive.emplace(std::move(writer));
    for (std::string_view line : removed) ZR_RETURN_IF_ERROR(archive->Add(line));
    ZR_RETURN_IF_ERROR(archive->Flush());
  }

  ZR_RETURN_IF_ERROR(replacement.Commit());
  // The data file has changed: from here on nothing is undone.
  log.Keep();
  if (archive) {
    archive->Commit();
    counts.archived = archive->count();
    ZR_RETURN_IF_ERROR(log.Append("purge_archive", purge_archive_detail(counts.archived, archive->path()), seconds));
  }
  ZR_RETURN_IF_ERROR(log.Append("purge", purge_detail(counts.purged), seconds));
  return counts;
}

}  // namespace zr::removal
