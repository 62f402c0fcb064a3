"""Progress of a run's phases on standard error (placeholder until the command-line work lands)."""
from __future__ import annotations

import sys
from typing import TextIO


class Progress:
    def __init__(self, enabled: bool, stream: TextIO | None = None) -> None:
        self.enabled = enabled
        self._stream = stream

    def start(self, phase: str, total: int | None = None) -> None:
        pass

    def advance(self, count: int = 1) -> None:
        pass

    def finish(self) -> None:
        pass
