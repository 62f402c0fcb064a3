// Forget sets: one bit per merged entry of a tokenizer, set for the revoked
// ones, so that a training pipeline can drop exactly those entries.
//
// Bit i is bit (i % 8) of byte (i / 8), least significant first, and i is
// the entry number (the position among valid entries in merged order). The
// mask comes from the token binary index when it is current and from the
// chunk files otherwise; both give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::token_index {

// The mask of a tokenizer's merged entries. An index that cannot be opened
// (damaged, unreadable) is passed over for the chunk files.
base::Result<std::string> generate_forget_set(std::string_view zr_dir, std::string_view tokenizer);

// The mask from the chunk files alone: each valid entry takes the next
// position and its bit is the entry's own revoked flag; invalid lines take
// none, so they never shift the bits of later entries.
base::Result<std::string> token_index_scan_revoked_bits(std::string_view zr_dir, std::string_view tokenizer);

}  // namespace zr::token_index
