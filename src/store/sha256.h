// SHA-256, the hash every key of the store is made of. The one place that
// computes it, so that every caller gets the same fast path.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zr::store {

using Sha256Digest = std::array<uint8_t, 32>;

// The SHA-256 digest of `bytes`.
void sha256(std::string_view bytes, Sha256Digest& out);

}  // namespace zr::store
