// Decoding 64-hex-digit keys (either case) on the hot paths of the build,
// where one key is decoded per source of every token-index line.
#pragma once

#include <optional>
#include <string_view>

#include "store/content_hash.h"

namespace zr::index {

// The 32 bytes of a 64-character hex text; nullopt for any other text.
// Same answers as decode_hash_key, without a branch per digit.
std::optional<HashKey> decode_key(std::string_view hex);

}  // namespace zr::index
