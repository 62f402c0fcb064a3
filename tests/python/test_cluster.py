"""Tracking on a Dask cluster: the target equals a sequential run's, faults are retried from scratch, bad lines are counted."""

import json
import os
import signal
from collections import Counter

import distributed
import pytest

import _zr_native as zr
from conftest import run_child, store_files
from zr_cluster import track_corpus
from zr_cluster.__main__ import main as cluster_main
from zr_cluster.parts import Part, lines_of, part_bytes_for, plan_parts, ranges_for
from zr_cluster.tasks import track_part

TOKENIZER = "tk"
# Lines the store's readers refuse: not JSON, a constant JSON lacks, bytes
# that are not UTF-8, nesting deeper than the store accepts, and a leading
# byte-order mark (which Python's reader of bytes would drop).
BAD_LINES = [b"not json", b"NaN", b"{\"a\":", b"\xff\xfe", b"[" * 200 + b"]" * 200, b"\xef\xbb\xbf{\"bom\":1}"]


def count_tokens(value):
    return len(json.dumps(value)) // 4


def no_tokens(value):
    return None


class FailFirstAttempt:
    """Counts tokens like `count_tokens`, except for the lines of file `f`:
    the first attempt at that file (until `marker` exists) gives odd counts
    to its first lines, then fails, so that a merged partial store would
    show. With `always`, every attempt fails."""

    def __init__(self, f, marker, always=False):
        self.f, self.marker, self.always = f, marker, always

    def __call__(self, value):
        if not isinstance(value, dict) or value.get("f") != self.f:
            return count_tokens(value)
        if self.always:
            raise RuntimeError("injected fault")
        if os.path.exists(self.marker):
            return count_tokens(value)
        if value["i"] < 5:
            return 999_000 + value["i"]
        open(self.marker, "x").close()
        raise RuntimeError("injected fault")


def kill_once(marker):
    """Kills the calling process with SIGKILL the first time any process gets
    here (the one that creates `marker`); later calls return."""
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
    except FileExistsError:
        return
    os.kill(os.getpid(), signal.SIGKILL)


class KillWorkerWhileTracking:
    """Counts tokens like `count_tokens`, but the first call of all kills its worker."""

    def __init__(self, marker):
        self.marker = marker

    def __call__(self, value):
        kill_once(self.marker)
        return count_tokens(value)


class KillWorkerWhileMerging(distributed.WorkerPlugin):
    """Makes the first merge of a shard range on any worker kill that worker."""

    def __init__(self, marker):
        self.marker = marker

    def setup(self, worker):
        import _zr_bulk
        merge = _zr_bulk.merge_document_texts

        def killing_merge(texts):
            kill_once(self.marker)
            return merge(texts)

        _zr_bulk.merge_document_texts = killing_merge


def register(root, holding=None):
    """The same registry in every target: two authors, three sections. A
    target `holding` the path of a corpus file already has some lines of that
    file (and one the corpus lacks) tracked under section "a", which is then
    revoked."""
    zr.init(root)
    ann = zr.author_add("Ann", "ann@example.org", root)
    bob = zr.author_add("Bob", "bob@example.org", root)
    sections = [zr.register_section("a", [ann], [], "MIT", "2024", root),
                zr.register_section("b", [bob], [], "GPL", "2024", root),
                zr.register_section("c", [ann, bob], [], "MIT", "2023", root)]
    if holding:
        for value in [{"shared": 3}, {"shared": 4}, {"held only": 1}]:
            zr.track(value, holding, [sections[0]], root, count_tokens(value), TOKENIZER)
        zr.clean(root, False)
        zr.revoke_section(root, sections[0])
    return sections


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Three files: repeated lines within and across files (one of them
    large enough to be cut into ranges), bad and blank lines, CRLF ends."""
    d = tmp_path_factory.mktemp("corpus")
    sections = register(str(d / "registry"))
    files = {}
    for f, lines in enumerate([220, 40, 60]):
        body = [json.dumps({"f": f, "i": i, "text": "w " * (i % 7)}).encode() for i in range(lines)]
        body += [json.dumps({"shared": i}).encode() for i in range(10)] + body[:15]
        for k, bad in enumerate(BAD_LINES):
            body.insert(7 * k + 3, bad)
        body[20:20] = [b"", b"  "]
        path = d / f"part-{f}.jsonl"
        path.write_bytes(b"\r\n".join(body) + b"\r\n" if f == 1 else b"\n".join(body))
        files[str(path)] = [sections[f]] if f < 2 else [sections[2], sections[0]]
    return files


def sequential_oracle(root, files, holding=False):
    """Every file tracked one after another into one store, merged into an empty target."""
    work = os.path.join(root, "work")
    zr.init(work)
    tracked = Counter()
    for path, sources in files.items():
        with open(path, "rb") as f:
            for raw in f.read().splitlines():
                try:
                    value = json.loads(raw.decode("utf-8"))  # as text, a byte-order mark is no JSON
                    zr.track(value, path, sources, work, count_tokens(value), TOKENIZER)
                    tracked[path] += 1
                except (ValueError, RuntimeError):
                    pass
    zr.clean(work, False)
    target = os.path.join(root, "target")
    register(target, min(files) if holding else None)
    zr.merge_absorb(work, target)
    zr.clean(target, False)
    return target, tracked, zr.build_index(target)


def store_bytes(root):
    """Every file of the store but the log and the archives (whose names
    carry the time), byte for byte."""
    return {path: data for path, data in store_files(root).items()
            if path not in ("log", "log.1") and not path.startswith("archive/")}


def shard_lines(root, layer):
    d = os.path.join(root, ".zr", layer)
    return {name: Counter(open(os.path.join(d, name), encoding="utf-8").read().splitlines())
            for name in sorted(os.listdir(d))}


def unordered(records):
    return sorted(json.dumps(r, sort_keys=True) for r in records)


def answers(root):
    """Every query's answer, in an order that does not depend on shard line order."""
    names = ("Ann", "Bob")
    sections = [json.loads(line)["section_hash"] for lines in shard_lines(root, "sections").values()
                for line in lines]
    tokens = Counter()
    for name in os.listdir(os.path.join(root, ".zr", f"token-index.{TOKENIZER}")):
        tokens.update(open(os.path.join(root, ".zr", f"token-index.{TOKENIZER}", name)).read().splitlines())
    author_tokens = {}
    for name in names:
        found = zr.show_by_author_token(root, name, TOKENIZER)
        author_tokens[name] = (found["total_tokens"], found["document_count"], unordered(found["entries"]))
    return {
        "layers": {layer: shard_lines(root, layer) for layer in ("authors", "sections", "document-index", "index")},
        "tokens": tokens,
        "by_author": {name: unordered(zr.show_by_author(root, name)) for name in names},
        "by_license": {lic: unordered(zr.show_by_license(root, lic)) for lic in ("MIT", "GPL")},
        "by_section": {h: unordered(zr.show_by_section(root, h)) for h in sections},
        "token_status": zr.token_index_token_status(root, TOKENIZER),
        "author_tokens": author_tokens,
        "blame": unordered(zr.blame(root, "x", json.dumps({"shared": 3}))),
        "forget_set_size": len(zr.generate_forget_set(root, TOKENIZER)),
    }


@pytest.fixture(scope="module")
def oracles(corpus, tmp_path_factory):
    """The sequential run's outcome into a new target, and into one holding records."""
    made = {}
    for holding in (False, True):
        target, tracked, index = sequential_oracle(str(tmp_path_factory.mktemp("oracle")), corpus, holding)
        made[holding] = tracked, index, answers(target), store_bytes(target)
    return made


@pytest.fixture(scope="module")
def oracle(oracles):
    return oracles[False]


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                                  local_directory=str(tmp_path_factory.mktemp("workers"))) as c:
        yield c


def run(corpus, target, holding=False, **options):
    register(target, min(corpus) if holding else None)
    return track(corpus, target, **options)


def track(corpus, target, **options):
    return track_corpus(list(corpus), corpus, target, tokenizer=TOKENIZER, token_count=options.pop(
        "token_count", count_tokens), part_bytes=options.pop("part_bytes", 2000), **options)


# A client run that kills itself (SIGKILL) before or after the n-th call of a
# module function, with the corpus, target and scheduler as arguments.
KILLED_CLIENT = """
import json, os, signal, sys
sys.path[:0] = sys.argv[1:3]
import _zr_bulk, _zr_native
import test_cluster
module_name, name, when, nth, corpus, target, scheduler = sys.argv[3:]
module = _zr_bulk if module_name == "_zr_bulk" else _zr_native
original, calls = getattr(module, name), []

def killing(*args, **kwargs):
    calls.append(1)
    if when == "before" and len(calls) == int(nth):
        os.kill(os.getpid(), signal.SIGKILL)
    result = original(*args, **kwargs)
    if when == "after" and len(calls) == int(nth):
        os.kill(os.getpid(), signal.SIGKILL)
    return result

setattr(module, name, killing)
test_cluster.track(json.loads(corpus), target, scheduler=scheduler, ranges=7)
"""


def assert_same_as_oracle(result, target, oracle):
    tracked, index, expected, expected_bytes = oracle
    assert {r.file: r.tracked for r in result.files} == tracked
    assert result.index == index
    assert answers(target) == expected
    assert store_bytes(target) == expected_bytes


class TestEqualsSequentialRun:
    @pytest.mark.parametrize("ranges, holding", [(None, False), (7, True), (256, False)])
    def test_on_two_workers_with_bad_and_blank_lines_counted_per_file(self, corpus, oracles, cluster, tmp_path,
                                                                      ranges, holding):
        target = str(tmp_path / "target")
        result = run(corpus, target, holding, scheduler=cluster.scheduler_address, ranges=ranges)
        assert len(plan_parts(list(corpus), 2000)) > len(corpus)  # the large file was cut into ranges
        assert_same_as_oracle(result, target, oracles[holding])
        for report in result.files:
            data = open(report.file, "rb").read()
            assert (report.bad, report.blank) == (len(BAD_LINES), 2)
            assert [data[o:o + 2] for o in report.bad_offsets] == [line[:2] for line in BAD_LINES]

    def test_on_one_worker_of_a_local_cluster(self, corpus, oracle, tmp_path):
        target = str(tmp_path / "target")
        result = run(corpus, target, workers=1, part_bytes=1 << 20, ranges=3,
                     local_directory=str(tmp_path / "scratch"))
        assert_same_as_oracle(result, target, oracle)

    def test_command_line(self, corpus, oracle, cluster, tmp_path, capsys):
        target = str(tmp_path / "target")
        register(target)
        sources = tmp_path / "sources.json"
        sources.write_text(json.dumps(corpus))
        directory = os.path.dirname(next(iter(corpus)))
        assert cluster_main([directory, "--target", target, "--sources-json", str(sources), "--tokenizer",
                             TOKENIZER, "--token-count", "test_cluster:count_tokens", "--part-mb", "0.002",
                             "--scheduler", cluster.scheduler_address, "--quiet"]) == 0
        out = capsys.readouterr().out
        assert f"total: {sum(oracle[0].values())} tracked, {3 * len(BAD_LINES)} bad in 3 files" in out
        assert answers(target) == oracle[2]


    def test_relative_paths_are_read_where_the_client_sees_them_and_recorded_as_given(self, corpus, cluster,
                                                                                       tmp_path, monkeypatch):
        # The workers started in another directory than the one the client now runs in.
        path = min(corpus)
        monkeypatch.chdir(os.path.dirname(path))
        target = str(tmp_path / "target")
        register(target)
        result = track_corpus([os.path.basename(path)], corpus[path], target, scheduler=cluster.scheduler_address)
        assert [report.file for report in result.files] == [os.path.basename(path)]
        assert result.tracked > 0
        files = {json.loads(line)["file"] for lines in shard_lines(target, "document-index").values() for line in lines}
        assert files == {os.path.basename(path)}


class TestKilledRuns:
    """A run killed at any point, then run again, leaves the target an uninterrupted run leaves."""

    @pytest.mark.parametrize("module, name, when, nth", [
        ("_zr_bulk", "absorb_document_texts", "before", 1),  # every part tracked, nothing merged
        ("_zr_bulk", "absorb_document_texts", "after", 3),  # some ranges in the target
        ("_zr_bulk", "absorb_token_text", "before", 1),  # all ranges, no token entries
        ("_zr_bulk", "log_merge", "before", 1),
        ("_zr_native", "clean", "before", 1),
        ("_zr_native", "build_index", "before", 1),
    ])
    def test_a_killed_client(self, corpus, oracle, cluster, tmp_path, module, name, when, nth):
        target = str(tmp_path / "target")
        register(target)
        here = os.path.dirname(os.path.abspath(__file__))
        killed = run_child(KILLED_CLIENT, os.path.dirname(os.path.dirname(here)), here, module, name, when, str(nth),
                           json.dumps(corpus), target, cluster.scheduler_address, timeout=120)
        assert killed.returncode == -signal.SIGKILL
        assert_same_as_oracle(track(corpus, target, scheduler=cluster.scheduler_address, ranges=7), target, oracle)

    @pytest.mark.parametrize("phase", ["tracking", "merging"])
    def test_a_killed_worker(self, corpus, oracle, tmp_path, phase):
        target = str(tmp_path / "target")
        marker = str(tmp_path / "killed")
        register(target)
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                      local_directory=str(tmp_path / "workers")) as local, \
                distributed.Client(local) as client:
            options = {}
            if phase == "tracking":
                options["token_count"] = KillWorkerWhileTracking(marker)
            else:
                client.register_worker_plugin(KillWorkerWhileMerging(marker))
            result = track(corpus, target, scheduler=local.scheduler_address, ranges=7, **options)
        assert os.path.exists(marker)
        assert_same_as_oracle(result, target, oracle)


class TestFaults:
    def test_a_failed_task_is_retried_and_its_partial_store_never_merged(self, corpus, oracle, cluster, tmp_path):
        target = str(tmp_path / "target")
        marker = str(tmp_path / "failed-once")
        result = run(corpus, target, scheduler=cluster.scheduler_address, part_bytes=1 << 20,
                     token_count=FailFirstAttempt(1, marker))
        assert os.path.exists(marker)
        assert_same_as_oracle(result, target, oracle)

    def test_a_task_failing_every_retry_fails_the_run_and_leaves_the_target_alone(self, corpus, cluster, tmp_path):
        target = str(tmp_path / "target")
        register(target)
        before = {layer: shard_lines(target, layer) for layer in ("document-index", "sections")}
        with pytest.raises(RuntimeError, match="injected fault"):
            track_corpus(list(corpus), corpus, target, tokenizer=TOKENIZER, retries=1,
                         token_count=FailFirstAttempt(0, "", always=True), scheduler=cluster.scheduler_address)
        assert {layer: shard_lines(target, layer) for layer in ("document-index", "sections")} == before
        assert not any(name.startswith("token-index.") for name in os.listdir(os.path.join(target, ".zr")))

    def test_a_part_that_cannot_be_read_is_reported_not_retried(self, tmp_path):
        # A retry would fail the same way, so the task returns the failure,
        # which the client raises once every part is in.
        records = track_part(Part(str(tmp_path / "gone.jsonl"), 0, 10, "gone.jsonl"), ["s"], ranges=3,
                             scratch_dir=str(tmp_path / "scratch"))
        assert records.failure == "gone.jsonl: No such file or directory"
        assert (records.documents, records.report.tracked) == ([b""] * 3, 0)

    def test_token_counts_thinned_to_each_counts_first_line_give_the_records_of_every_count(self, corpus, tmp_path,
                                                                                           monkeypatch):
        # Byte-order-mark lines are read by Python (so they get a count) but
        # not by the store: where one is the first of its count, the part is
        # tracked again with every count.
        from zr_cluster import tasks
        thinned = []
        track_into = tasks._track_into
        monkeypatch.setattr(tasks, "_track_into", lambda *a: thinned.append(a[-1] is not None) or track_into(*a))
        for part in plan_parts(list(corpus), 2000):
            records = [track_part(part, corpus[part.path], TOKENIZER, count_tokens, 5, str(tmp_path), thin)
                       for thin in (True, False)]
            assert [(r.documents, r.tokens, r.skipped, r.report) for r in records[:1]] == \
                   [(r.documents, r.tokens, r.skipped, r.report) for r in records[1:]]
        assert thinned.count(True) > thinned.count(False) - thinned.count(True) > 0  # both routes taken

    def test_counts_equal_as_integers_are_one_count_and_others_reach_the_module(self):
        from zr_cluster.tasks import _FirstCounts

        class Three:
            __hash__ = None  # an integer-like count need not be hashable

            def __index__(self):
                return 3

        three = Three()
        assert _FirstCounts().thin([3, three, None, True, 3.0, 1, 4]) == [3, None, None, True, 3.0, None, 4]

    def test_a_tokenizer_without_any_entry_leaves_no_token_directory(self, corpus, cluster, tmp_path):
        target = str(tmp_path / "target")
        result = run(corpus, target, scheduler=cluster.scheduler_address, token_count=no_tokens)
        assert result.merged["token_index_added"] == 0
        assert not os.path.exists(os.path.join(target, ".zr", f"token-index.{TOKENIZER}"))

    def test_a_failing_task_leaves_no_scratch_store(self, corpus, tmp_path):
        path = next(p for p in corpus if p.endswith("part-1.jsonl"))
        scratch = tmp_path / "scratch"
        with pytest.raises(RuntimeError, match="injected fault"):
            track_part(Part(path, 0, os.path.getsize(path)), ["s"], TOKENIZER,
                       FailFirstAttempt(1, str(tmp_path / "marker")), scratch_dir=str(scratch))
        assert os.listdir(scratch) == []


class TestParts:
    @pytest.mark.parametrize("total", [0, 1, 10**6, 10**8, 10**10, 10**12, 10**13])
    def test_a_run_keeps_to_thousands_of_tasks_and_small_ranges_whatever_the_corpus(self, total):
        ranges = ranges_for(total)
        part_bytes = part_bytes_for(total, ranges)
        parts = max(1, -(-total // part_bytes))
        # Tracking tasks, the pieces they hand to each range, the merges.
        assert parts + parts * ranges + ranges <= 70_000
        assert 1 <= ranges <= 256 and part_bytes >= 32 << 20
        if ranges < 256:  # a range holds about 16 MiB of records until there are 256
            assert total * 4 / ranges <= 16 << 20

    @pytest.mark.parametrize("ends", [b"\n", b"\r\n"])
    def test_every_line_belongs_to_exactly_one_range_whatever_the_cut(self, tmp_path, ends):
        lines = [b"x" * n for n in (0, 1, 2, 5, 0, 3, 1)]
        path = tmp_path / "f.jsonl"
        path.write_bytes(ends.join(lines))  # no end after the last line
        size = os.path.getsize(path)
        for part_bytes in range(1, size + 2):
            parts = plan_parts([str(path)], part_bytes)
            assert [raw for part in parts for _, raw in lines_of(part)] == lines, part_bytes
