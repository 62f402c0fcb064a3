// Content hashes: SHA-256 over a JSON value's compact text, in lower-case hex.
// Line hashes, author ids and section hashes are all content hashes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.h"
#include "store/sha256.h"

namespace zr::store {

using HashKey = Sha256Digest;

// SHA-256 of `bytes` as 64 lower-case hex characters.
std::string sha256_hex(std::string_view bytes);
// Writes the 64 hex characters into `out` (no terminator).
void sha256_hex_into(std::string_view bytes, char out[64]);

// The content hash of `value`.
std::string content_hash(const json::Value& value);

// Decodes a 64-character hex text (either case) into its 32 bytes; nullopt
// for any other length or a non-hex character.
std::optional<HashKey> decode_hash_key(std::string_view hex);

}  // namespace zr::store
