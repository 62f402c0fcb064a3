"""Command line: python3 -m zr_cluster INPUT... --target ROOT --source HASH ..."""
from __future__ import annotations

import argparse
import importlib
import json
import sys
from typing import Sequence

from .parts import MIN_PART_BYTES
from .pipeline import DEFAULT_RETRIES, CorpusResult, track_corpus


def load_function(reference: str):
    """The function named `module:name`."""
    module_name, _, name = reference.partition(":")
    if not module_name or not name:
        raise argparse.ArgumentTypeError(f"expected MODULE:FUNCTION, got {reference!r}")
    try:
        return getattr(importlib.import_module(module_name), name)
    except (ImportError, AttributeError) as error:
        raise argparse.ArgumentTypeError(f"cannot load {reference}: {error}") from None


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="python3 -m zr_cluster",
                                description="Track JSON Lines files on a Dask cluster into one store.")
    p.add_argument("inputs", nargs="+", metavar="INPUT", help="a JSON Lines file, or a directory of .jsonl files")
    p.add_argument("--target", required=True, help="project root of the store to track into (created when missing)")
    sources = p.add_mutually_exclusive_group(required=True)
    sources.add_argument("--source", action="append", dest="sources", metavar="SOURCE",
                         help="a source (section hash) every line is attributed to; repeat for more")
    sources.add_argument("--sources-json", metavar="FILE",
                         help="a JSON object mapping each file, as listed, to its list of sources")
    p.add_argument("--tokenizer", help="tokenizer name of the token-index entries")
    p.add_argument("--token-count", type=load_function, metavar="MODULE:FUNCTION",
                   help="function of a line's JSON value giving its token count (needs --tokenizer)")
    p.add_argument("--scheduler", metavar="ADDRESS", help="use this Dask scheduler instead of a local cluster")
    p.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster (default 2)")
    p.add_argument("--part-mb", type=float, default=None,
                   help=f"largest range of a file one task tracks, in MiB (default: {MIN_PART_BYTES >> 20}, more for large corpora)")
    p.add_argument("--retries", type=int, default=DEFAULT_RETRIES, help="retries of a failing task (default 2)")
    p.add_argument("--local-directory", help="scratch directory of the local cluster's workers")
    p.add_argument("--quiet", action="store_true", help="no progress bar")
    return p


def summary(result: CorpusResult) -> str:
    lines = []
    for report in result.files:
        line = f"{report.file}: {report.tracked} tracked, {report.bad} bad, {report.blank} blank"
        if report.bad_offsets:
            line += " (bad lines at bytes " + ", ".join(map(str, report.bad_offsets)) + ")"
        lines.append(line)
    lines.append(f"total: {result.tracked} tracked, {result.bad} bad in {len(result.files)} files")
    lines.append("merged: " + json.dumps(result.merged))
    lines.append("index: " + json.dumps(result.index))
    t = result.timings
    lines.append(f"seconds: tracking {t.tracking:.2f}, reducing {t.reducing:.2f}, final merge {t.absorbing:.2f}, "
                 f"clean {t.cleaning:.2f}, build_index {t.indexing:.2f}")
    return "\n".join(lines)


def main(argv: Sequence[str] | None = None) -> int:
    args = parser().parse_args(argv)
    if (args.tokenizer is None) != (args.token_count is None):
        parser().error("--tokenizer and --token-count go together")
    if args.sources_json is not None:
        with open(args.sources_json, encoding="utf-8") as f:
            sources = json.load(f)
    else:
        sources = args.sources
    result = track_corpus(args.inputs, sources, args.target, tokenizer=args.tokenizer,
                          token_count=args.token_count, scheduler=args.scheduler, workers=args.workers,
                          part_bytes=max(1, int(args.part_mb * (1 << 20))) if args.part_mb else None,
                          retries=args.retries, local_directory=args.local_directory)
    print(summary(result))
    return 0


if __name__ == "__main__":
    sys.exit(main())
