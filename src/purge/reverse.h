// Undoing the newest purge: its archived lines go back to the end of a data
// file and the archive file is deleted.
//
// How a restore survives being cut short, the one description of it. The
// restored block is a function of the archive alone, plus one "\n" in front
// when the data file ends in a cut-off line. A restore that appended part of
// it and then died must not append it all again, so a run into a regular
// data file:
//   1. writes a note beside the archive (restore_note.h: the archive's
//      identity, the data file's resolved path and size, whether the block
//      begins with "\n") and flushes it to disk;
//   2. appends the block and flushes the data file;
//   3. deletes the archive, writes the log line, removes the note.
// A later call that finds a note for the newest archive, still the same
// file, finishes that restore instead of starting one: the data file's bytes
// from the noted size on must be a beginning of the block (only the rest is
// appended) or begin with the whole block (nothing is); then step 3 follows.
// Anything else means the data file changed meanwhile, and the call fails
// without touching anything, as it does when given another data file. A
// note cut short was written before any append and is ignored; a note whose
// archive is gone or is another file by now belongs to a restore that got
// past deleting it, and housekeeping (clean) removes it. A data file that is
// no regular file (a pipe, a device) cannot be read back: it gets the block
// without a note, as a plain append.
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
