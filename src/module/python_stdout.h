// Python's own sys.stdout, seen from native code that writes to the process's
// standard output directly.
#pragma once

namespace zr::module {

// Flushes sys.stdout, so that what the caller printed before a call reaches
// file descriptor 1 before anything the call itself writes there. A missing
// or None sys.stdout needs nothing; an ordinary exception from its flush is
// dropped, since the call's own output does not depend on it. Returns false,
// with the exception left set, only for a BaseException that is no ordinary
// error (a KeyboardInterrupt raised while flushing).
bool flush_python_stdout();

}  // namespace zr::module
