"""The command line's checks of its arguments, all made before any work starts.

A mistake found here costs the user nothing: no cluster has started and the
target is untouched. Each check raises UsageError with a message meant to be
shown as it is, on one line.
"""
from __future__ import annotations

import importlib
import json
import math
import os
import sys
from typing import Callable, Mapping, Sequence

import _zr_native as zr

from .connection import check_scheduler_address, configured_scheduler
from .parts import JSONL_EXTENSION, list_inputs

STORE = ".zr"

TokenCounter = Callable[[object], int]


class UsageError(Exception):
    """A bad argument or input: the run must not start."""


def check_counts(workers: int, part_mb: float | None, retries: int) -> None:
    if workers < 1:
        raise UsageError(f"--workers must be at least 1, not {workers}")
    if part_mb is not None and not (math.isfinite(part_mb) and part_mb > 0):
        raise UsageError(f"--part-mb must be a positive number of MiB, not {part_mb:g}")
    if retries < 0:
        raise UsageError(f"--retries must be 0 or more, not {retries}")


def _has_jsonl_file(directory: str) -> bool:
    return any(name.endswith(JSONL_EXTENSION) and os.path.isfile(os.path.join(directory, name))
               for name in os.listdir(directory))


def input_files(inputs: Sequence[str]) -> list[str]:
    """The files to track, as the pipeline lists them, once each input is
    known to exist and every file to be readable."""
    for item in inputs:
        try:
            if os.path.isdir(item):
                if not _has_jsonl_file(item):
                    raise UsageError(f"no {JSONL_EXTENSION} files in directory {item}")
            elif not os.path.exists(item):
                raise UsageError(f"no such file or directory: {item}")
            elif not os.path.isfile(item):
                raise UsageError(f"not a regular file or directory: {item}")
        except OSError as error:
            raise UsageError(f"cannot read {item}: {error.strerror or error}") from None
    files = list_inputs(list(inputs))
    for path in files:
        try:
            with open(path, "rb"):
                pass
        except OSError as error:
            raise UsageError(f"cannot read {path}: {error.strerror or error}") from None
    return files


def check_target(target: str) -> None:
    for path in (target, os.path.join(target, STORE)):
        if os.path.lexists(path) and not os.path.isdir(path):
            raise UsageError(f"{path} exists and is not a directory")


def registered_sections(target: str) -> set[str]:
    """The section hashes registered in the store of `target` (none when it has no store yet)."""
    if not os.path.isdir(os.path.join(target, STORE)):
        return set()
    try:
        records = zr.shard_iterate_all(target, "sections")
    except RuntimeError as error:
        raise UsageError(f"cannot read the sections of {target}: {error}") from None
    return {record["section_hash"] for record in records
            if isinstance(record, dict) and isinstance(record.get("section_hash"), str)}


def check_sources_registered(sources: Sequence[str], registered: set[str], target: str, given_by: str) -> None:
    unknown = next((source for source in sources if source not in registered), None)
    if unknown is None:
        return
    if not registered:
        raise UsageError(f"{given_by} {unknown!r}: {target} has no sections registered yet "
                         "(a target without a store has none); register the section first")
    raise UsageError(f"{given_by} {unknown!r} is not a section registered in {target}; "
                     "register the section first")


def load_sources_json(path: str, files: Sequence[str]) -> dict[str, list[str]]:
    """The sources of every input file, from a JSON object mapping each file (as listed) to a list of sources."""
    try:
        with open(path, encoding="utf-8") as f:
            value = json.load(f)
    except OSError as error:
        raise UsageError(f"cannot read --sources-json {path}: {error.strerror or error}") from None
    except ValueError as error:  # not JSON, or not UTF-8
        raise UsageError(f"--sources-json {path} is not JSON: {error}") from None
    if not isinstance(value, Mapping):
        raise UsageError(f"--sources-json {path} must hold a JSON object mapping each input file "
                         "to its list of sources")
    for file, sources in value.items():
        if not (isinstance(sources, list) and all(isinstance(source, str) for source in sources)):
            raise UsageError(f"--sources-json {path}: the sources of {file!r} must be a list of strings")
    missing = next((file for file in files if file not in value), None)
    if missing is not None:
        raise UsageError(f"--sources-json {path} gives no sources for the input file {missing!r}")
    return {file: value[file] for file in files}


def load_function(reference: str) -> TokenCounter:
    """The function named `MODULE:FUNCTION`. The module is looked up as
    `python3 -m` would, the current directory first, so that the console
    command and `python3 -m zr_cluster` find the same modules."""
    module_name, _, name = reference.partition(":")
    if not module_name or not name:
        raise UsageError(f"--token-count expects MODULE:FUNCTION, not {reference!r}")
    if "" not in sys.path and os.getcwd() not in sys.path:
        sys.path.insert(0, os.getcwd())
    try:
        function = getattr(importlib.import_module(module_name), name)
    except Exception as error:  # whatever importing the user's module raises
        raise UsageError(f"cannot load --token-count {reference}: {type(error).__name__}: {error}") from None
    if not callable(function):
        raise UsageError(f"--token-count {reference} is not a function")
    return function


def check_scheduler(scheduler: str | None) -> None:
    """The scheduler to use, given or configured (DASK_SCHEDULER_ADDRESS), must answer."""
    address = scheduler if scheduler is not None else configured_scheduler()
    if address is None:
        return
    try:
        check_scheduler_address(address)
    except ValueError as error:
        where = "" if scheduler is not None else " (from DASK_SCHEDULER_ADDRESS or Dask's configuration)"
        raise UsageError(f"{error}{where}") from None
