#include "registry/author_registry.h"

#include "base/file.h"
#include "base/worker_pool.h"
#include "store/candidate_lines.h"
#include "store/jsonl.h"
#include "store/store_paths.h"

namespace zr::registry {

namespace {

// Opening and writing fail differently: only a failure to open names the
// shard, a failed write carries the system's message alone.
base::Status append_to_shard(const std::string& path, std::string_view line) {
  base::Result<base::UniqueFd> fd = base::open_for_append(path);
  if (!fd.ok()) return fd.status().WithContext("opening shard " + path);
  return base::append_lines(fd->get(), line);
}

// One file of the scan. Its mapping is kept until the whole scan is done:
// unmapping while another thread of the process runs interrupts that thread's
// core to flush its address translations, which costs more than the scan of
// a small file.
struct FileScan {
  base::MappedFile mapping;
  std::vector<Author> found;
  base::Status status;
};

FileScan scan_file(const std::string& path, const AuthorFilter& filter) {
  FileScan scan;
  // A file removed since the listing contributes nothing; one that is there
  // but cannot be read fails the query rather than hide its authors.
  base::Result<base::MappedFile> file = base::MappedFile::OpenIfExists(path);
  if (!file.ok()) {
    scan.status = file.status();
    return scan;
  }
  scan.mapping = std::move(file).value();
  json::Parser parser;
  read_matching_authors(scan.mapping.view(), filter, parser, scan.found);
  return scan;
}

base::Result<std::vector<Author>> lookup_pair(const std::string& dir, const AuthorFilter& filter) {
  std::vector<Author> found;
  std::string id = author_id(*filter.name, *filter.email);
  std::string path = base::path_join(dir, std::string_view(id).substr(0, 2));
  // Only a missing shard holds nothing; a directory there is an error.
  ZR_ASSIGN_OR_RETURN(base::MappedFile file, base::MappedFile::OpenIfExists(path));
  json::Parser parser;
  read_matching_authors(file.view(), filter, parser, found);
  return found;
}

base::Result<std::vector<Author>> scan_layer(const std::string& dir, const AuthorFilter& filter) {
  ZR_ASSIGN_OR_RETURN(std::vector<base::DirEntry> entries, base::list_directory(dir));
  std::vector<std::string> files;
  files.reserve(entries.size());
  for (const base::DirEntry& entry : entries) {
    if (entry.kind == base::PathKind::kRegularFile) files.push_back(base::path_join(dir, entry.name));
  }
  std::vector<FileScan> per_file =
      base::parallel_map(files.size(), [&](size_t i) { return scan_file(files[i], filter); });
  size_t total = 0;
  for (const FileScan& part : per_file) {
    ZR_RETURN_IF_ERROR(part.status);
    total += part.found.size();
  }
  std::vector<Author> found;
  found.reserve(total);
  for (FileScan& part : per_file) {
    for (Author& author : part.found) found.push_back(std::move(author));
  }
  return found;  // the mappings go here, on one thread, with the workers idle
}

}  // namespace

base::Result<std::string> author_add(std::string_view zr_dir, std::string_view name, std::string_view email) {
  Author author{author_id(name, email), std::string(name), std::string(email), false};
  ZR_ASSIGN_OR_RETURN(std::string path, store::shard_path(zr_dir, store::kAuthorsLayer, author.id));
  ZR_RETURN_IF_ERROR(append_to_shard(path, author_line(author)));
  return std::move(author.id);
}

void read_matching_authors(std::string_view text, const AuthorFilter& filter, json::Parser& parser,
                           std::vector<Author>& out) {
  auto take = [&](std::string_view line, size_t readable_after) {
    std::optional<Author> author = parse_author_line(parser, line, readable_after);
    if (author && filter.Matches(*author)) out.push_back(std::move(*author));
  };
  std::optional<std::string_view> sought = filter.name ? filter.name : filter.email;
  if (!sought) return store::for_each_line(text, take);
  store::CandidateLines candidates(text, *sought);
  std::string_view line;
  size_t readable_after = 0;
  while (candidates.Next(line, readable_after)) take(line, readable_after);
}

base::Result<std::vector<Author>> author_query(std::string_view zr_dir, const AuthorFilter& filter) {
  std::string dir = store::store_path(zr_dir, store::kAuthorsLayer);
  ZR_ASSIGN_OR_RETURN(const bool dir_exists, base::directory_exists(dir));
  if (!dir_exists) return std::vector<Author>();
  if (filter.name && filter.email) return lookup_pair(dir, filter);
  return scan_layer(dir, filter);
}

base::Result<std::vector<Author>> authors_named(std::string_view zr_dir, std::string_view name) {
  return author_query(zr_dir, AuthorFilter{name, std::nullopt});
}

base::Result<std::vector<std::string>> author_ids_named(std::string_view zr_dir, std::string_view name) {
  ZR_ASSIGN_OR_RETURN(std::vector<Author> authors, authors_named(zr_dir, name));
  std::vector<std::string> ids;
  ids.reserve(authors.size());
  for (Author& author : authors) ids.push_back(std::move(author.id));
  return ids;
}

}  // namespace zr::registry
