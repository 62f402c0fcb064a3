// Removing what killed writers left behind inside the store.
//
// Every writer that replaces a store file works on a temporary file and
// removes it when it fails; one killed midway cannot. Housekeeping runs when
// no writer may, so any such file it finds is a leftover. Only names this
// system's writers make are touched (a known prefix followed by the unique
// part of a temporary name), never a file someone else put in the store:
//   .zr/.tmp-XXXXXX, .zr/.tmp-index.bin-XXXXXX, .zr/.tmp-token-bin-XXXXXX
//   .zr/token-index.<tokenizer>/.tmp-XXXXXX
//   .zr/archive/.purge-pending.<stamp>.XXXXXX (and its ".lines"), removed
//   only when its records are not the only copy of the lines they hold
//   (purge/stale_pending.h).
//   .zr/archive/.restoring.purge.<stamp>, removed only when its archive is
//   gone or is another file by now (purge/reverse.h).
#pragma once

#include <string_view>

namespace zr::maintenance {

// Best effort: a leftover that cannot be examined or removed stays.
void remove_writer_leftovers(std::string_view zr_dir);

}  // namespace zr::maintenance
