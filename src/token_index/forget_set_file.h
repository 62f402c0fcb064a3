// Writing a forget set to a file of the user's choice, so that a consumer
// finds the old mask or the new one and never a cut one.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::token_index {

// What write_forget_set's temporary file beside its target is called after
// the target's name (".<name>.forget-set-XXXXXX"); a writer killed before
// the rename leaves one behind.
inline constexpr std::string_view kForgetSetTempInfix = ".forget-set-";

// Writes exactly the mask's bytes to `path`, replacing what is there as a
// whole: a crash or a full disk leaves the old file (or none), never part of
// the new one. What is not a regular file (a FIFO, a device) is written
// directly. Errors carry the system's message only.
base::Status write_forget_set(const std::string& path, std::string_view bitmask);

}  // namespace zr::token_index
