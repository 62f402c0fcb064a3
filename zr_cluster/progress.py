"""A progress line for the phases of a run, written to a text stream (stderr by default).

On a terminal the line of the current phase is rewritten in place; on any
other stream (a log file) each phase gets one line when it starts and one
when it finishes, so that the file stays readable. Progress is a side show:
a stream that fails (a closed pipe, a terminal gone) silences it for the
rest of the run instead of failing the run.
"""
from __future__ import annotations

import sys
import threading
import time
from typing import TextIO

_CLEAR_LINE = "\r\033[K"


def is_terminal(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (ValueError, OSError):
        return False  # a closed stream


class Progress:
    """Counts the steps of one phase at a time; `enabled=False` writes nothing at all."""

    def __init__(self, enabled: bool, stream: TextIO | None = None) -> None:
        self._stream = stream if stream is not None else sys.stderr
        self._enabled = enabled
        self._terminal = enabled and is_terminal(self._stream)
        self._phase: str | None = None
        self._total: int | None = None
        self._count = 0
        self._started = 0.0
        self._shown = ""
        # Steps may be counted from Dask's callbacks, on another thread than
        # the phases; a line is written whole.
        self._lock = threading.RLock()

    def start(self, phase: str, total: int | None = None) -> None:
        """Begins `phase` of `total` steps (unknown when None), finishing the one before."""
        with self._lock:
            self.finish()
            self._phase, self._total, self._count = phase, total, 0
            self._started = time.monotonic()
            self._shown = ""
            if self._terminal:
                self._rewrite()
            else:
                self._write(self._status() + "\n")

    def advance(self, count: int = 1) -> None:
        """Counts `count` more steps of the current phase."""
        with self._lock:
            if self._phase is None:
                return
            self._count += count
            if self._terminal:
                self._rewrite()

    def finish(self) -> None:
        """Ends the current phase's line with the time it took; nothing when no phase is open."""
        with self._lock:
            if self._phase is None:
                return
            line = f"{self._status()} in {time.monotonic() - self._started:.1f} s"
            self._write((_CLEAR_LINE if self._terminal else "") + line + "\n")
            self._phase = None

    def abandon(self) -> None:
        """Leaves the current phase unfinished: a message after it starts on a line of its own."""
        with self._lock:
            if self._phase is None:
                return
            if self._terminal:
                self._write(_CLEAR_LINE)
            self._phase = None

    def announce(self, text: str) -> None:
        """Shows one line of news about the run (such as the dashboard's address) above the progress line."""
        with self._lock:
            if self._terminal and self._phase is not None:
                self._write(_CLEAR_LINE + text + "\n")
                self._shown = ""
                self._rewrite()
            else:
                self._write(text + "\n")

    def _status(self) -> str:
        if self._total is None:  # a phase of one step, or of steps it cannot count ahead
            return f"{self._phase}: {self._count}" if self._count else f"{self._phase}"
        percent = 100 * self._count // self._total if self._total else 100
        return f"{self._phase}: {self._count}/{self._total} ({percent}%)"

    def _rewrite(self) -> None:
        # A step is a task, not a line, so rewriting per step is cheap; an
        # unchanged text (a step of nothing) is not written again.
        status = self._status()
        if status != self._shown:
            self._shown = status
            self._write(_CLEAR_LINE + status)

    def _write(self, text: str) -> None:
        if not self._enabled:
            return
        try:
            self._stream.write(text)
            self._stream.flush()
        except (ValueError, OSError):  # closed (ValueError) or broken (BrokenPipeError, EIO)
            self._enabled = False
