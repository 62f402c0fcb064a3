// What every fuzz target needs besides its own checks: a scratch directory
// that lives as long as the process, writing an input as a file, and a way
// to stop loudly on a broken expectation.
#pragma once

#include <string>
#include <string_view>

namespace zr::fuzz {

// A fresh directory, created on first use and removed when the process
// exits normally.
const std::string& scratch_dir();

// Creates or truncates `path` and writes `bytes`; aborts on failure (the
// target cannot go on without its file).
void write_whole_file(const std::string& path, std::string_view bytes);

// Reports `what` with a printable rendering of `input` and aborts, which the
// fuzzer records as a crash together with the input.
[[noreturn]] void fail(std::string_view what, std::string_view input);

}  // namespace zr::fuzz
