"""The zr-cluster command as a user meets it: refusals before any work, Ctrl-C, a closed pipe, --version."""

import io
import json
import os
import socket
import subprocess
import sys
import textwrap
from types import SimpleNamespace

import dask
import pytest

import _zr_native as zr
import zr_cluster
import zr_cluster.__main__ as cli
from conftest import run_child
from zr_cluster.progress import Progress

# The source tree, where a child interpreter finds the package (as pytest does).
SOURCE_TREE = os.path.dirname(os.path.dirname(os.path.abspath(zr_cluster.__file__)))

# Imports the command in a child interpreter with track_corpus replaced by
# `fake_run` (defined by the code placed before this).
RUN_WITH_FAKE = """
import sys
import zr_cluster.__main__ as cli
cli.track_corpus = fake_run
sys.exit(cli.main(sys.argv[1:]))
"""


def tree(path):
    """Every file under `path` with its bytes (None when `path` does not exist)."""
    if not os.path.exists(path):
        return None
    return {os.path.join(d, name): open(os.path.join(d, name), "rb").read()
            for d, _, names in os.walk(path) for name in names}


@pytest.fixture
def workspace(tmp_path):
    """A corpus directory of two files, a target whose store has one section
    registered, and the paths a refusal may meet."""
    corpus = tmp_path / "corpus"
    corpus.mkdir()
    for name in ("a.jsonl", "b.jsonl"):
        (corpus / name).write_text('{"x": 1}\n')
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "notes.txt").write_text("no JSON Lines here")
    target = str(tmp_path / "target")
    zr.init(target)
    author = zr.author_add("Ann", "ann@example.org", target)
    section = zr.register_section("s", [author], [], "MIT", "2024", target)
    files = [str(corpus / "a.jsonl"), str(corpus / "b.jsonl")]

    def sources_json(value):
        path = tmp_path / "sources.json"
        path.write_text(value if isinstance(value, str) else json.dumps(value))
        return str(path)

    # A bound socket that does not listen: every connection to it is refused at once.
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    yield SimpleNamespace(tmp=tmp_path, corpus=str(corpus), files=files, target=target, section=section,
                          sources_json=sources_json, refused=f"tcp://127.0.0.1:{closed.getsockname()[1]}")
    closed.close()


def ok(w, *extra):
    """Arguments that would run, plus `extra`."""
    return [w.corpus, "--target", w.target, "--source", w.section, *extra]


REFUSALS = {
    "missing input": (lambda w: ["nowhere.jsonl", "--target", w.target, "--source", w.section],
                      "no such file or directory: nowhere.jsonl"),
    "directory without .jsonl": (lambda w: [str(w.tmp / "empty"), "--target", w.target, "--source", w.section],
                                 "no .jsonl files in directory"),
    "target is a file": (lambda w: [w.corpus, "--target", w.files[0], "--source", w.section],
                         "exists and is not a directory"),
    "no target": (lambda w: [w.corpus, "--source", w.section], "required: --target"),
    "no sources": (lambda w: [w.corpus, "--target", w.target], "--source --sources-json is required"),
    "malformed scheduler": (lambda w: ok(w, "--scheduler", "tcp://host-without-port"), "malformed scheduler"),
    "unknown scheduler scheme": (lambda w: ok(w, "--scheduler", "carrier-pigeon://loft:1"), "malformed scheduler"),
    "unreachable scheduler": (lambda w: ok(w, "--scheduler", w.refused), "cannot reach the scheduler"),
    "no workers": (lambda w: ok(w, "--workers", "0"), "--workers must be at least 1"),
    "negative workers": (lambda w: ok(w, "--workers", "-3"), "--workers must be at least 1"),
    "zero part size": (lambda w: ok(w, "--part-mb", "0"), "--part-mb must be a positive"),
    "negative part size": (lambda w: ok(w, "--part-mb", "-1"), "--part-mb must be a positive"),
    "part size not a number": (lambda w: ok(w, "--part-mb", "nan"), "--part-mb must be a positive"),
    "negative retries": (lambda w: ok(w, "--retries", "-1"), "--retries must be 0 or more"),
    "tokenizer alone": (lambda w: ok(w, "--tokenizer", "tk"), "go together"),
    "token count alone": (lambda w: ok(w, "--token-count", "json:dumps"), "go together"),
    "token count not loadable": (lambda w: ok(w, "--tokenizer", "tk", "--token-count", "no_such_module:count"),
                                 "cannot load --token-count"),
    "token count not MODULE:FUNCTION": (lambda w: ok(w, "--tokenizer", "tk", "--token-count", "count"),
                                        "expects MODULE:FUNCTION"),
    "unregistered source": (lambda w: [w.corpus, "--target", w.target, "--source", w.section, "--source", "f" * 64],
                            "is not a section registered in"),
    "any source into a new target": (lambda w: [w.corpus, "--target", str(w.tmp / "new"), "--source", w.section],
                                     "has no sections registered yet"),
    "sources file missing": (lambda w: [w.corpus, "--target", w.target, "--sources-json", str(w.tmp / "none.json")],
                             "cannot read --sources-json"),
    "sources file not JSON": (lambda w: [w.corpus, "--target", w.target, "--sources-json", w.sources_json("{")],
                              "is not JSON"),
    "sources file not an object": (lambda w: [w.corpus, "--target", w.target,
                                              "--sources-json", w.sources_json([w.section])],
                                   "must hold a JSON object"),
    "sources not a list of strings": (lambda w: [w.corpus, "--target", w.target, "--sources-json",
                                                 w.sources_json({f: w.section for f in w.files})],
                                      "must be a list of strings"),
    "sources missing a file": (lambda w: [w.corpus, "--target", w.target,
                                          "--sources-json", w.sources_json({w.files[0]: [w.section]})],
                               "gives no sources for the input file"),
    "sources file naming an unregistered source": (
        lambda w: [w.corpus, "--target", w.target,
                   "--sources-json", w.sources_json({w.files[0]: [w.section], w.files[1]: ["x"]})],
        "is not a section registered in"),
}


@pytest.mark.parametrize("case", REFUSALS.values(), ids=REFUSALS.keys())
def test_a_refusal_is_one_line_exit_2_before_any_work(workspace, case, monkeypatch, capsys):
    arguments, message = case
    runs = []
    monkeypatch.setattr(cli, "track_corpus", lambda *a, **k: runs.append(a))
    argv = arguments(workspace)
    before = {path: tree(path) for path in (workspace.target, str(workspace.tmp / "new"))}
    assert cli.main(argv) == 2
    out, err = capsys.readouterr()
    assert err.startswith("zr-cluster: error: ") and err.count("\n") == 1 and message in err, err
    assert out == "" and runs == []
    assert {path: tree(path) for path in before} == before


def test_a_configured_scheduler_is_checked_too(workspace, monkeypatch, capsys):
    monkeypatch.setattr(cli, "track_corpus", lambda *a, **k: pytest.fail("the run started"))
    with dask.config.set({"scheduler-address": workspace.refused}):
        assert cli.main(ok(workspace)) == 2
    assert "DASK_SCHEDULER_ADDRESS" in capsys.readouterr().err


def test_ctrl_c_exits_130_quietly_with_the_local_cluster_and_its_scratch_space_gone(workspace):
    # Like Ctrl-C on a terminal: SIGINT to the whole process group, workers
    # included, once a task has run on the cluster.
    local = workspace.tmp / "local"
    fake_run = textwrap.dedent("""
        import os, signal, time
        from zr_cluster.connection import connect

        def fake_run(inputs, sources, target, *, scheduler=None, workers=2, local_directory=None, **_):
            with connect(scheduler, workers, local_directory) as client:
                assert client.submit(sum, [1, 2]).result() == 3
                with open(os.path.join(target, "scratch-seen"), "w") as f:
                    f.write(" ".join(os.listdir(local_directory)))
                os.killpg(0, signal.SIGINT)
                time.sleep(60)
    """)
    done = run_child(fake_run + RUN_WITH_FAKE, *ok(workspace, "--local-directory", str(local), "--workers", "1"),
                     capture_output=True, text=True, start_new_session=True, timeout=120, cwd=SOURCE_TREE)
    assert (done.returncode, done.stderr, done.stdout) == (130, "zr-cluster: error: interrupted\n", "")
    assert open(os.path.join(workspace.target, "scratch-seen")).read().startswith("zr-cluster-")
    assert os.listdir(local) == []


def test_a_closed_standard_output_ends_the_command_quietly(workspace):
    # The summary is written only once the reader has gone (`| head -1` done).
    fake_run = textwrap.dedent("""
        import sys
        from dataclasses import dataclass
        from types import SimpleNamespace

        @dataclass
        class Timings:
            tracking: float = 1.0

        def fake_run(*args, **kwargs):
            sys.stdin.read()  # until the parent closes it, after its end of stdout
            return SimpleNamespace(files=[], tracked=0, bad=0, merged={}, index={}, timings=Timings())
    """)
    child = subprocess.Popen([sys.executable, "-c", fake_run + RUN_WITH_FAKE, *ok(workspace)],
                             env=dict(os.environ, PYTHONPATH=os.path.dirname(zr.__file__)),
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=SOURCE_TREE)
    child.stdout.close()
    _, err = child.communicate(timeout=60)
    assert (child.returncode, err) == (cli.EXIT_CLOSED_OUTPUT, b"")


def test_version_is_the_package_version(capsys):
    assert cli.main(["--version"]) == 0
    assert capsys.readouterr().out == f"zr-cluster {zr_cluster.__version__}\n"


def test_progress_writes_nothing_when_disabled_and_never_fails_on_a_closed_stream():
    quiet = io.StringIO()
    shown = Progress(False, quiet)
    shown.start("tracking", 3)
    shown.advance()
    shown.announce("dashboard: http://127.0.0.1:1/status")
    shown.finish()
    assert quiet.getvalue() == ""
    log = io.StringIO()
    steps = Progress(True, log)
    steps.start("tracking", 2)
    steps.advance(2)
    steps.start("clean")
    # Not a terminal: a line as each phase starts and ends, none per step.
    assert [line.split(" in ")[0] for line in log.getvalue().splitlines()] == [
        "tracking: 0/2 (0%)", "tracking: 2/2 (100%)", "clean"]
    log.close()
    steps.advance()
    steps.finish()
