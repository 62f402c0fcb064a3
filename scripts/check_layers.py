#!/usr/bin/env python3
"""Checks that no source folder uses one above it.

The folders of src/ are floors, lowest first (ROOMS below): a unit may include
headers of its own floor and of the floors beneath it, never of one above, so
that each floor can be read, tested and changed knowing only what lies below.
The check runs at two levels:

- include level: every `#include "<room>/..."` of every source and header;
- link level (given a build directory): every symbol an object file of the
  core library needs, looked up among the symbols the other object files
  define. Objects that hold one instruction set's copy of the per-CPU
  routines (see src/base/isa.h) mix several floors by design and are skipped.

    check_layers.py [build_dir]
"""
from __future__ import annotations

import re
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

ROOMS = ["base", "json", "store", "registry", "token_index", "tracking", "index",
         "revocation", "purge", "maintenance", "module"]
ROOT = Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def floor(room: str) -> int:
    return ROOMS.index(room) if room in ROOMS else -1


def include_faults() -> list[str]:
    faults = []
    for path in sorted((ROOT / "src").rglob("*")):
        if path.suffix not in (".h", ".cc"):
            continue
        room = path.relative_to(ROOT / "src").parts[0]
        if room not in ROOMS:
            faults.append(f"{path.relative_to(ROOT)}: folder {room} has no floor")
            continue
        for used in INCLUDE.findall(path.read_text(errors="replace")):
            if used in ROOMS and floor(used) > floor(room):
                faults.append(f"{path.relative_to(ROOT)}: includes {used}/, a floor above {room}/")
    return faults


def symbols(obj: Path) -> tuple[set[str], set[str]]:
    out = subprocess.run(["nm", "--defined-only", "-g", str(obj)], capture_output=True, text=True, check=True).stdout
    defined = {line.split()[-1] for line in out.splitlines() if len(line.split()) >= 3 and line.split()[1] not in "wWvV"}
    out = subprocess.run(["nm", "-u", str(obj)], capture_output=True, text=True, check=True).stdout
    needed = {line.split()[-1] for line in out.splitlines() if line.strip()}
    return defined, needed


def link_faults(build: Path) -> list[str]:
    objects = sorted((build / "CMakeFiles" / "zr_core.dir" / "src").rglob("*.o"))
    if not objects:
        return [f"{build}: no object files of the core library"]
    owner: dict[str, str] = {}
    needs: dict[Path, tuple[str, set[str]]] = {}
    for obj in objects:
        room = obj.relative_to(build / "CMakeFiles" / "zr_core.dir" / "src").parts[0]
        defined, needed = symbols(obj)
        for name in defined:
            owner.setdefault(name, room)
        needs[obj] = (room, needed)
    faults = []
    seen = defaultdict(set)
    for obj, (room, needed) in needs.items():
        for name in needed:
            used = owner.get(name)
            if used and floor(used) > floor(room) and name not in seen[room]:
                seen[room].add(name)
                faults.append(f"{obj.name} ({room}/) links to {name} of {used}/")
    return faults


def main() -> int:
    faults = include_faults()
    if len(sys.argv) > 1:
        faults += link_faults(Path(sys.argv[1]).resolve())
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} use(s) of a floor above", file=sys.stderr)
        return 1
    print("every folder uses only its own floor and those beneath it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
