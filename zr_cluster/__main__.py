"""Command line: zr-cluster INPUT... --target ROOT --source HASH ... (or python3 -m zr_cluster).

Exit status: 0 done, 1 the run failed, 2 bad usage or input (found before
any work starts), 130 interrupted, 141 the standard output was closed early.
Every error is one line on stderr.
"""
from __future__ import annotations

import argparse
import inspect
import json
import os
import sys
from dataclasses import dataclass, fields
from typing import NoReturn, Sequence

from . import checks
from .checks import UsageError
from .pipeline import CorpusResult, track_corpus
from .progress import Progress, is_terminal
from .quiet import quiet_cluster_logs
from .version import package_version

PROG = "zr-cluster"
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130  # 128 + SIGINT, as a shell reports a command stopped by Ctrl-C
EXIT_CLOSED_OUTPUT = 141  # 128 + SIGPIPE, as a shell reports a command stopped by a closed pipe


# The pipeline's defaults are the command's: one place to change them.
_PIPELINE_DEFAULTS = {name: parameter.default
                      for name, parameter in inspect.signature(track_corpus).parameters.items()}


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line, without argparse's usage text: main prints it.
        raise UsageError(message)


def parser() -> argparse.ArgumentParser:
    p = _Parser(prog=PROG, description="Track JSON Lines files on a Dask cluster into one store.",
                epilog="Exit status: 0 done, 1 the run failed, 2 bad usage or input (nothing was done), "
                       "130 interrupted, 141 stdout closed early. Without --scheduler, the scheduler of DASK_SCHEDULER_ADDRESS "
                       "is used when it is set.")
    p.add_argument("--version", action="version", version=f"{PROG} {package_version()}")
    p.add_argument("inputs", nargs="+", metavar="INPUT", help="a JSON Lines file, or a directory of .jsonl files")
    p.add_argument("--target", required=True,
                   help="project root of the store to track into (created when missing)")
    sources = p.add_mutually_exclusive_group(required=True)
    sources.add_argument("--source", action="append", dest="sources", metavar="SECTION",
                         help="hash of a section registered in the target, which every line is attributed "
                              "to; repeat for more. A new target (one without a store) has no sections: "
                              "register them first, or every --source is refused")
    sources.add_argument("--sources-json", metavar="FILE",
                         help="a JSON object mapping each input file, as listed, to its list of section hashes")
    p.add_argument("--tokenizer", help="tokenizer name of the token-index entries (needs --token-count)")
    p.add_argument("--token-count", metavar="MODULE:FUNCTION",
                   help="function of a line's JSON value giving its token count (needs --tokenizer)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="use the Dask scheduler at ADDRESS (such as tcp://host:8786) instead of a local cluster")
    p.add_argument("--workers", type=int, default=_PIPELINE_DEFAULTS["workers"],
                   help="worker processes of the local cluster (default %(default)s)")
    p.add_argument("--part-mb", type=float, metavar="MIB",
                   help="largest range of a file one task tracks, in MiB (default: grows with the corpus)")
    p.add_argument("--retries", type=int, default=_PIPELINE_DEFAULTS["retries"],
                   help="retries of a failing task (default %(default)s)")
    p.add_argument("--local-directory", metavar="DIR",
                   help="where the local cluster's workers keep their scratch stores (default: the system's "
                        "temporary directory); the stores are removed when the run ends")
    shown = p.add_mutually_exclusive_group()
    shown.add_argument("--progress", action="store_true",
                       help="show progress and the dashboard's address on stderr even when it is no terminal")
    shown.add_argument("--quiet", action="store_true", help="no progress and no dashboard address")
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
    timings = result.timings
    lines.append("seconds: " + ", ".join(f"{field.name} {getattr(timings, field.name):.2f}"
                                         for field in fields(timings)))
    return "\n".join(lines)


def _one_line(text: str) -> str:
    return " ".join(part.strip() for part in text.splitlines() if part.strip())


def _error(message: str) -> None:
    try:
        print(f"{PROG}: error: {_one_line(message)}", file=sys.stderr, flush=True)
    except (ValueError, OSError):
        pass  # stderr is gone: the exit status still tells


@dataclass(frozen=True)
class _Run:
    """What the arguments ask for, once checked."""
    sources: list[str] | dict[str, list[str]]
    token_count: checks.TokenCounter | None
    part_bytes: int | None


def _checked(args: argparse.Namespace) -> _Run:
    """Checks every argument and input before anything starts (UsageError when one is bad)."""
    checks.check_counts(args.workers, args.part_mb, args.retries)
    if (args.tokenizer is None) != (args.token_count is None):
        raise UsageError("--tokenizer and --token-count go together")
    files = checks.input_files(args.inputs)
    checks.check_target(args.target)
    registered = checks.registered_sections(args.target)
    sources: list[str] | dict[str, list[str]]
    if args.sources_json is not None:
        sources_of = checks.load_sources_json(args.sources_json, files)
        sources = sources_of
        for file, file_sources in sources_of.items():
            checks.check_sources_registered(file_sources, registered, args.target,
                                            f"the source of {file} in {args.sources_json}")
    else:
        sources = args.sources
        checks.check_sources_registered(args.sources, registered, args.target, "--source")
    token_count = checks.load_function(args.token_count) if args.token_count is not None else None
    checks.check_scheduler(args.scheduler)
    part_bytes = max(1, int(args.part_mb * (1 << 20))) if args.part_mb is not None else None
    return _Run(sources, token_count, part_bytes)


def _silence_stdout() -> None:
    # Python flushes stdout again at exit: pointed at nothing, that flush
    # cannot fail with a second message.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def main(argv: Sequence[str] | None = None) -> int:
    progress: Progress | None = None
    try:
        try:
            args = parser().parse_args(argv)
            run = _checked(args)
        except UsageError as error:
            _error(str(error))
            return EXIT_USAGE
        except SystemExit as done:  # --help and --version
            return done.code if isinstance(done.code, int) else 0
        progress = Progress(enabled=not args.quiet and (args.progress or is_terminal(sys.stderr)))
        quiet_cluster_logs()
        try:
            result = track_corpus(
                args.inputs, run.sources, args.target, tokenizer=args.tokenizer, token_count=run.token_count,
                scheduler=args.scheduler, workers=args.workers, retries=args.retries,
                local_directory=args.local_directory, part_bytes=run.part_bytes, progress=progress)
        except Exception as error:
            progress.abandon()
            _error(str(error) or type(error).__name__)
            return EXIT_FAILED
        print(summary(result), flush=True)
        return 0
    except BrokenPipeError:
        # The reader of stdout left (`| head -1`): nothing more to say to it.
        _silence_stdout()
        return EXIT_CLOSED_OUTPUT
    except KeyboardInterrupt:
        if progress is not None:
            progress.abandon()
        _error("interrupted")
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
