"""Scratch stores: the fresh store a tracking task works in on its worker's local disk."""
from __future__ import annotations

import os
import shutil
import tempfile

import _zr_native as zr

STORE = ".zr"


class ScratchStore:
    """A fresh project root holding a new empty store in a scratch directory,
    removed on exit whatever happened."""

    def __init__(self, scratch_dir: str) -> None:
        self._scratch_dir = scratch_dir
        self.root = ""

    def __enter__(self) -> "ScratchStore":
        os.makedirs(self._scratch_dir, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix="zr-part-", dir=self._scratch_dir)
        try:
            zr.init(self.root)
        except BaseException:
            shutil.rmtree(self.root, ignore_errors=True)
            raise
        return self

    def __exit__(self, *exc_info: object) -> None:
        shutil.rmtree(self.root, ignore_errors=True)
