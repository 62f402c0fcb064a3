// Where everything lives in a store: <zr_dir>/.zr/<entry>[/<shard>].
// Components are joined exactly as given; nothing is normalised.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::store {

inline constexpr std::string_view kStoreDirName = ".zr";
inline constexpr std::string_view kAuthorsLayer = "authors";
inline constexpr std::string_view kSectionsLayer = "sections";
inline constexpr std::string_view kDocumentIndexLayer = "document-index";
inline constexpr std::string_view kIndexLayer = "index";
inline constexpr std::string_view kLogName = "log";

// <zr_dir>/.zr
std::string store_dir(std::string_view zr_dir);
// <zr_dir>/.zr/<entry>
std::string store_path(std::string_view zr_dir, std::string_view entry);

// The shard name of a hash text: its first two bytes. Refused when the text
// is too short to have two whole characters, or when the name could step
// outside the layer ("/", NUL, "." or "..").
base::Result<std::string> shard_name(std::string_view hash);

// True when shard_name accepts `hash`. Readers pass over records whose
// hash cannot name a shard.
bool names_safe_shard(std::string_view hash);

// The shard name of a shard number as index.bin stores it: two lower-case
// hex digits.
std::string shard_file_name(uint8_t shard);

// <zr_dir>/.zr/<layer>/<shard of hash>, refused as shard_name refuses.
base::Result<std::string> shard_path(std::string_view zr_dir, std::string_view layer, std::string_view hash);

}  // namespace zr::store
