// Undoing the newest purge: its archived lines go back to the end of a data
// file and the archive file is deleted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zr::purge {

// Appends the `line` of every record of the newest purge archive (by name)
// to `data_file` in compact form, deletes that archive and logs
// "purge_reverse". Without any purge archive it prints "No purge archive
// found" on standard output and returns 0. A data file whose last line lacks
// its line feed gets one first, so no restored line runs into it.
base::Result<uint64_t> purge_reverse(std::string_view zr_dir, const std::string& data_file);

}  // namespace zr::purge
