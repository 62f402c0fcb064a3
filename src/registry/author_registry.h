// The author registry: the `authors` layer, sharded by author id.
//
// Records are only ever appended here; revocation rewrites them elsewhere.
// Readers are lenient: lines that are not valid records are skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "registry/author.h"
#include "json/parse.h"

namespace zr::registry {

// Appends a record for (name, email), not revoked, to the shard of its id
// and returns the id. The layer directory is never created; failing to open
// the shard is reported as "opening shard <path>".
base::Result<std::string> author_add(std::string_view zr_dir, std::string_view name, std::string_view email);

// Which records a query keeps: an absent field matches anything, a given one
// must equal the record's byte for byte.
struct AuthorFilter {
  std::optional<std::string_view> name;
  std::optional<std::string_view> email;

  bool Matches(const Author& author) const {
    return (!name || *name == author.name) && (!email || *email == author.email);
  }
};

// The matching records. With both name and e-mail only the shard of their
// id is read; otherwise every regular file of the layer is read on the
// worker pool and the results are joined in directory-listing order, file
// order within a file. Duplicates are kept. A missing layer or shard is
// empty, and so is a file of the scan removed since the listing; a file
// that is there but cannot be read is an error.
base::Result<std::vector<Author>> author_query(std::string_view zr_dir, const AuthorFilter& filter);

// Every record with exactly this name, whatever its e-mail, revoked or not,
// in registry order.
base::Result<std::vector<Author>> authors_named(std::string_view zr_dir, std::string_view name);

// The ids of authors_named, in the same order (an author added twice
// appears twice).
base::Result<std::vector<std::string>> author_ids_named(std::string_view zr_dir, std::string_view name);

// Appends to `out` the valid records of one file's text that `filter`
// keeps, in text order. Lines that cannot match are passed over unparsed.
void read_matching_authors(std::string_view text, const AuthorFilter& filter, json::Parser& parser,
                           std::vector<Author>& out);

}  // namespace zr::registry
