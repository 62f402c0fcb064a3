// Tracking a line of data and finding the records of a line of text. Both
// identify a line by its line hash, the content hash of its JSON value, so
// the same content gets the same answer however its text was spelled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "json/parse.h"
#include "tracking/document_record.h"

namespace zr::tracking {

// Records that a line of data, seen in `file`, is attributed to `sources`:
// one document-index line, and a token-index entry for this process when
// both `token_count` and `tokenizer` are given. The line comes as the
// compact text of its JSON value, whose hash is the line hash. A tokenizer
// name that cannot be a file name is refused before anything is written,
// even without a count. Returns the line hash. A failure of the token entry
// leaves the document-index line in place.
base::Result<std::string> track(std::string_view data_compact, std::string_view file,
                                const std::vector<std::string>& sources, std::string_view zr_dir,
                                std::optional<uint64_t> token_count, std::optional<std::string_view> tokenizer);

// The line hash of a line of text: the hash of the JSON value it spells, or,
// when it is not exactly one JSON value, of the JSON string holding it.
std::string line_hash_of_text(json::Parser& parser, std::string_view text);

// Every document-index record of the line hash of `line_content`. `file` does
// not narrow the result: a line's content is blamed wherever it was seen.
base::Result<std::vector<DocumentRecord>> blame(std::string_view zr_dir, std::string_view file,
                                                std::string_view line_content);

}  // namespace zr::tracking
