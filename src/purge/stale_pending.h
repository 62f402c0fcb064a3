// Telling pending purge records that are the only copy of removed lines
// from those that merely repeat lines kept elsewhere, and removing the
// latter.
//
// A pending pair (archive.h) outlives its run when the run is killed. Its
// records are stale, and the pair goes, when every one of them is a line
// that a restore would find somewhere else, so that putting them back by
// hand would add those lines a second time:
//   - the run's data file still has the identity the note recorded: it was
//     never replaced, so the records are lines it still holds; or
//   - every record's line is matched by a line of the note's data file or by
//     a record of a purge archive (archive/purge.*) stamped in the pair's
//     own second or later. This is what a purge killed before its data
//     file's replacement leaves once the data file changed: its run again
//     archived the same lines, or the file was appended to since.
// Lines are compared by the content hash the purge itself uses (SHA-256 of
// the value's compact, key-sorted text), so a record matches a data line
// that differs only in blanks or member order, and an archived value
// written anew.
//
// Matching counts copies. Each line of a data file and each archive record
// vouches for one pending record only, across every pair judged together:
// a line purged twice needs two copies, and one copy never clears two
// pairs. Archives of an earlier second are never counted: a line purged,
// added again and then removed by a run killed after its replacement has
// its only copy of the second removal in the pending file, however many
// older archives hold the same line. (A run that completed in the very
// second of such a killed run can still vouch for it; a re-run right after
// a kill lands in that second too, and nothing in the files tells the two
// apart.)
// Pairs are judged newest first: only archives from a pair's second onward
// vouch for it, and those vouch for every older pair too, so no other order
// would clear more. A pair whose data file was never replaced first takes
// from that file the lines that are its own. A pair that stays keeps what
// it matched, so that doubt only ever keeps more.
//
// What cannot be read decides nothing: when a purge archive or a pending
// records file cannot be read, only pairs whose data file was never
// replaced go; a data file that cannot be read (other than one that no
// longer exists, which holds no lines) keeps the pairs that name it; a note
// that cannot be parsed keeps its pair. A note whose records are gone (they
// were promoted just before a kill) goes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zr::purge {

// Judges every pending pair in <zr_dir>/.zr/archive and removes the stale
// ones (records first, then the note). With `only_data_file`, removes only
// pairs whose note names that data file (absolute, no symbolic link in it):
// a purge clearing up after an earlier killed run of its own file leaves
// other files' pending pairs, which may belong to purges still running, to
// housekeeping. Best effort: what cannot be examined or removed stays.
void discard_stale_pending_purges(std::string_view zr_dir,
                                  const std::optional<std::string>& only_data_file = std::nullopt);

}  // namespace zr::purge
