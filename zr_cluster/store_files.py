"""Moving a store between machines as bytes: a tar of the layers a merge reads.

Only the record layers travel (authors, sections, the document index and
each tokenizer's merged chunk directory). The attribution index, the token
binary indexes and the log are derived or local, and the final `build_index`
on the target rebuilds what it needs.
"""
from __future__ import annotations

import io
import os
import shutil
import tarfile
import tempfile

import _zr_native as zr

STORE = ".zr"
RECORD_LAYERS = ("authors", "sections", "document-index")
TOKEN_INDEX_PREFIX = "token-index."


def _travelling_entries(root: str) -> list[str]:
    store = os.path.join(root, STORE)
    chunk_dirs = sorted(name for name in os.listdir(store)
                        if name.startswith(TOKEN_INDEX_PREFIX) and os.path.isdir(os.path.join(store, name)))
    return [name for name in (*RECORD_LAYERS, *chunk_dirs) if os.path.isdir(os.path.join(store, name))]


def pack_store(root: str) -> bytes:
    """The tar bytes of the record layers of the store under project root `root`."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name in _travelling_entries(root):
            tar.add(os.path.join(root, STORE, name), arcname=f"{STORE}/{name}")
    return buffer.getvalue()


def _check_member(member: tarfile.TarInfo) -> None:
    parts = member.name.split("/")
    if member.name.startswith("/") or ".." in parts or parts[0] != STORE:
        raise ValueError(f"store payload holds an unsafe path: {member.name!r}")
    if not (member.isfile() or member.isdir()):
        raise ValueError(f"store payload holds a link or device: {member.name!r}")


def unpack_store(payload: bytes, root: str) -> None:
    """Lays out a packed store under project root `root` (which must not hold one)."""
    with tarfile.open(fileobj=io.BytesIO(payload), mode="r:") as tar:
        members = tar.getmembers()
        for member in members:
            _check_member(member)
        tar.extractall(root, members=members)


class ScratchStore:
    """A fresh project root in a scratch directory, removed on exit whatever happened.

    With `payload` it holds that packed store, otherwise a new empty store."""

    def __init__(self, scratch_dir: str, payload: bytes | None = None) -> None:
        self._scratch_dir = scratch_dir
        self._payload = payload
        self.root = ""

    def __enter__(self) -> "ScratchStore":
        os.makedirs(self._scratch_dir, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix="zr-part-", dir=self._scratch_dir)
        try:
            if self._payload is None:
                zr.init(self.root)
            else:
                unpack_store(self._payload, self.root)
        except BaseException:
            shutil.rmtree(self.root, ignore_errors=True)
            raise
        return self

    def __exit__(self, *exc_info: object) -> None:
        shutil.rmtree(self.root, ignore_errors=True)
