"""Fixtures and helpers shared by the module's tests.

Test modules import the helpers by name (`from conftest import compact`);
pytest puts this directory on the import path.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import textwrap

import pytest

import _zr_native as zr

LOG_LINE = re.compile(r"^\d+-\d\d:\d\d:\d\d (\S+) (.*)$")


@pytest.fixture
def root(tmp_path):
    """The root of a project holding a fresh store, as a path. Modules whose
    tests pass the root around as text override this with `str(root)`."""
    path = tmp_path / "project"
    zr.init(str(path))
    return path


def store(root, *parts):
    """A path inside the store of `root`, as text."""
    return os.path.join(root, ".zr", *parts)


def store_files(root):
    """Every file of the store of `root` with its bytes, by its path inside the store."""
    base = store(root)
    files = {}
    for dirpath, _, names in os.walk(base):
        for name in names:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, base)] = f.read()
    return files


def compact(value):
    """The store's text of a JSON value: sorted keys, no spaces, raw UTF-8."""
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def sha256(text):
    return hashlib.sha256(text.encode()).hexdigest()


def line_hash(value):
    return sha256(compact(value))


def token_entry(count, sources, revoked=False, tokenizer="tk"):
    """A token-index entry with its members in declared order (how tracking
    writes one and how a revocation writes a flipped one)."""
    return json.dumps({"token_count": count, "sources": sources, "tokenizer": tokenizer, "revoked": revoked},
                      separators=(",", ":"))


def write_lines(path, lines, end="\n", mode="w"):
    """Writes each line followed by `end`, a str as it is and any other value
    as its compact text, creating the directories above `path`; mode "a"
    appends."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    text = "".join((line if isinstance(line, str) else compact(line)) + end for line in lines)
    with open(path, mode + "b") as f:
        f.write(text.encode())


def log_ops(root):
    """(operation, detail) of every line of the store's log, each checked
    against the log's format."""
    entries = []
    for line in (root / ".zr" / "log").read_text().splitlines():
        m = LOG_LINE.match(line)
        assert m, line
        entries.append((m.group(1), m.group(2)))
    return entries


def run_child(code, *argv, other_user=False, **kwargs):
    """Runs `code` in a child interpreter that imports this build's modules,
    with `argv` as its arguments, and returns the finished process; `kwargs`
    go to subprocess.run (a timeout of 60 s unless given). With `other_user`,
    a child of root runs as user nobody, whom permission bits apply to."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(zr.__file__))
    if other_user and os.geteuid() == 0:
        kwargs.update(user=65534, group=65534, extra_groups=[])
    kwargs.setdefault("timeout", 60)
    return subprocess.run([sys.executable, "-c", code, *argv], env=env, **kwargs)


def run_limited(call, file_size_limit, **names):
    """Runs the expression `call` in a child interpreter under a file-size
    limit (writes beyond it fail with EFBIG instead of killing the process)
    and returns what it printed: the result, or "error: " and the message."""
    code = textwrap.dedent("""
        import resource, signal
        import _zr_native as zr
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (%d, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
        try:
            print(%s)
        except RuntimeError as e:
            print("error:", e)
    """) % (file_size_limit, call)
    assignments = "".join("%s = %r\n" % item for item in names.items())
    result = run_child(assignments + code, capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()
