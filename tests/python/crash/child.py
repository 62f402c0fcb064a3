"""Runs module calls that the kill shim may cut short, one forked process per call.

Started by the crash tests with the shim preloaded (its path is the first
argument). Each line on stdin is a JSON request {"call", "args", "kind", "at",
"torn"}; the process forks, the fork arms the shim and makes the call, and
one JSON line goes back on stdout: {"killed": true, "done": {kind: calls}}
when the shim killed it ("done": the calls of each kind that ran before),
otherwise {"killed": false, "error": <message or null>}. Forking keeps a trial
at a few milliseconds; the module's worker threads only start in the forks.
"""
import ctypes
import json
import mmap
import os
import signal
import sys

import _zr_bulk
import _zr_native as zr

# A call named "<module>.<function>" runs that module's function; a bare name, _zr_native's.
MODULES = {"_zr_bulk": _zr_bulk}
KINDS = ("write", "rename", "unlink", "fsync")  # the shim's order


def run_in_fork(shim, done, request):
    done[:] = [0] * len(KINDS)
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        error = None
        try:
            shim.kill_shim_arm(request["kind"].encode(), request["at"], int(request.get("torn", False)),
                               ctypes.addressof(done))
            module, _, name = request["call"].rpartition(".")
            getattr(MODULES.get(module, zr), name)(*request["args"])
        except RuntimeError as e:
            error = str(e)
        shim.kill_shim_arm(b"none", 0, 0, None)  # the report below is no part of the call
        os.write(write_end, json.dumps({"error": error}).encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        report = pipe.read()
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGKILL:
        return {"killed": True, "done": dict(zip(KINDS, done))}
    if not report:
        return {"killed": False, "error": "child ended with status %d" % status}
    return dict(json.loads(report), killed=False)


def main():
    shim = ctypes.CDLL(sys.argv[1])
    shim.kill_shim_arm.argtypes = [ctypes.c_char_p, ctypes.c_long, ctypes.c_int, ctypes.c_void_p]
    # Counters the forks write and this process reads: anonymous shared memory.
    shared = mmap.mmap(-1, ctypes.sizeof(ctypes.c_long) * len(KINDS))
    done = (ctypes.c_long * len(KINDS)).from_buffer(shared)
    for line in sys.stdin:
        sys.stdout.write(json.dumps(run_in_fork(shim, done, json.loads(line))) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
