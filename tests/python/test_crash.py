"""Crashes during the rewriting operations: a forked child runs one call on a
prepared store and is killed (SIGKILL) at each file-system call of a kind in
turn: every write, rename, unlink and flush to disk. After each kill the
store must hold every file old or new (temporary files aside), lose nothing,
and a re-run must finish the job. The only doubles a re-run may add are the
documented ones: one per-process file's records.

The kills come from a small preloaded library (crash/kill_shim.c, compiled
here), so the module itself carries no test hook.
"""
import collections
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import _zr_bulk
import _zr_native as zr
from conftest import compact, line_hash, write_lines

HERE = Path(__file__).parent
KINDS = ("write", "rename", "unlink", "fsync")
LOG = os.path.join(".zr", "log")
KILLS = collections.Counter()  # per operation, shown with -s at the end of the module


class Rig:
    """The child that runs calls under the kill shim."""

    def __init__(self, shim):
        env = dict(os.environ)
        env["LD_PRELOAD"] = ":".join(p for p in (env.get("LD_PRELOAD"), str(shim)) if p)
        self.process = subprocess.Popen([sys.executable, str(HERE / "crash" / "child.py"), str(shim)], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def run(self, call, args, kind="write", at=0, torn=False):
        request = {"call": call, "args": plain(args), "kind": kind, "at": at, "torn": torn}
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        reply = self.process.stdout.readline()
        assert reply, "the crash child died"
        return json.loads(reply)

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)


def plain(args):
    """Call arguments with paths as text."""
    return [str(a) if isinstance(a, Path) else a for a in args]


@pytest.fixture(scope="module")
def rig(tmp_path_factory):
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the kill shim")
    shim = tmp_path_factory.mktemp("shim") / "kill_shim.so"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-o", str(shim), str(HERE / "crash" / "kill_shim.c"), "-ldl"],
                   check=True)
    rig = Rig(shim)
    yield rig
    rig.close()
    print("\nkills per operation:", dict(KILLS), "total", sum(KILLS.values()))


def is_leftover(path):
    """Temporary files and notes of a killed writer: never read as data,
    removed by clean (or by the re-run that finishes the writer's job)."""
    name = os.path.basename(path)
    return name.startswith((".tmp-", ".restoring.")) or (name.startswith(".") and ".purge-" in name)


LOG_TIME = re.compile(rb"^\d+-\d\d:\d\d:\d\d ", re.M)


def snapshot(root):
    """Every file under `root` (leftovers aside) with its bytes; log lines
    without their time."""
    files = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root)
            if is_leftover(rel):
                continue
            data = Path(path).read_bytes()
            files[rel] = LOG_TIME.sub(b"", data) if name.startswith("log") else data
    return files


def leftovers(root):
    return sorted(os.path.relpath(os.path.join(d, n), root) for d, _, names in os.walk(root) for n in names
                  if is_leftover(n))


def assert_old_or_new(state, old, new, may_be_missing=()):
    """Every file is its old or its new self; the log, only ever appended to,
    lies between the two (a cut-off last line aside)."""
    for path, data in state.items():
        if path == LOG:
            whole_lines = data[:data.rfind(b"\n") + 1]
            assert whole_lines.startswith(old[LOG]) and new[LOG].startswith(whole_lines), "log rewritten"
        else:
            assert data in (old.get(path), new.get(path)), path + " is torn"
    for path in set(old) & set(new):
        assert path in state or path.startswith(may_be_missing), path + " vanished"


def jsonl_lines(path):
    """The lines of a JSON Lines file the store wrote: each one whole."""
    data = Path(path).read_bytes()
    assert data == b"" or data.endswith(b"\n"), str(path) + " ends in a cut-off line"
    return [compact(json.loads(line)) for line in data.decode().splitlines() if line]


def lines_of(paths):
    return collections.Counter(line for p in paths for line in jsonl_lines(p))


def assert_no_loss_and_bounded_doubles(found, expected, per_file):
    """`found` holds every expected line; any extra lines are records of one
    per-process file (appended, then appended again because a kill came
    before the file's removal). Returns whether anything was doubled."""
    assert not expected - found, "lost: %s" % (expected - found)
    extra = found - expected
    assert not extra or any(not extra - records for records in per_file), "doubled beyond one file: %s" % extra
    return bool(extra)


# Where a call was killed: before call number `at` of `kind` (or, `torn`,
# after half of that write's bytes), after `done` calls of each kind had run.
Kill = collections.namedtuple("Kill", "kind at done torn")


class Trials:
    """One operation on one prepared store, killed at every call of each kind."""

    def __init__(self, rig, template, work, call, args):
        self.rig, self.template, self.work, self.call, self.args = rig, template, work, call, args
        self.old = snapshot(template)
        self.reset()
        assert rig.run(call, args) == {"killed": False, "error": None}
        self.new = snapshot(work)

    def reset(self):
        shutil.rmtree(self.work, ignore_errors=True)
        shutil.copytree(self.template, self.work, symlinks=True)

    def kill_everywhere(self, check, torn_writes=False):
        """Kills the call at each of its writes, renames, unlinks and flushes
        in turn (with `torn_writes`, once more at each write after half of its
        bytes) and runs check(kill) after each kill. Returns the number
        of kills."""
        passes = [(kind, False) for kind in KINDS] + ([("write", True)] if torn_writes else [])
        kills = 0
        for kind, torn in passes:
            at = 1
            while True:
                self.reset()
                outcome = self.rig.run(self.call, self.args, kind, at, torn)
                if not outcome["killed"]:
                    assert outcome["error"] is None
                    break
                check(Kill(kind, at, outcome["done"], torn))
                kills += 1
                at += 1
        KILLS[self.call] += kills
        return kills


def make_authors(root, name, count):
    """`count` authors called `name` whose ids fall into different shards."""
    ids, shards, n = [], set(), 0
    while len(ids) < count:
        n += 1
        author_id = zr.author_add(name, "%s%d@example.org" % (name.lower(), n), str(root))
        if author_id[:2] not in shards:
            shards.add(author_id[:2])
            ids.append(author_id)
    return ids


def tracked_store(root, lines=12, anns=2):
    """A store with `anns` authors called Ann (in different shards) and Bob, a
    section each (Bob's last), and `lines` tracked lines of data.jsonl with
    token counts, still in this process's token file. Returns the sections."""
    zr.init(str(root))
    authors = make_authors(root, "Ann", anns) + [zr.author_add("Bob", "bob@example.org", str(root))]
    sections = [zr.register_section("s%d" % i, [a], [], "MIT", "2024", str(root)) for i, a in enumerate(authors)]
    for i in range(lines):
        zr.track({"n": i}, "data.jsonl", [sections[i % len(sections)]], str(root), token_count=i + 1,
                 tokenizer="tk")
    return sections


def token_pid_file(root, pid, entries):
    write_lines(os.path.join(root, ".zr", "token-index.tk.%d" % pid),
                [{"token_count": c, "sources": s, "tokenizer": "tk", "revoked": False} for c, s in entries])


class TestBuildIndex:
    def test_every_index_file_is_old_or_new_and_a_rerun_rebuilds(self, rig, tmp_path):
        template, work = tmp_path / "template", tmp_path / "work"
        sections = tracked_store(template)
        zr.clean(str(template), False)
        zr.build_index(str(template))
        # Changes since that build, so that the new index differs from the old.
        for i in range(10):
            zr.register_section("t%d" % i, ["x%d" % i], [], "GPL", "2025", str(template))
        zr.track({"n": 99}, "data.jsonl", [sections[0]], str(template))
        token_pid_file(template, 7, [(5, [sections[1]])])
        zr.token_index_merge_pid_files(str(template), "tk")

        trials = Trials(rig, template, work, "build_index", [work])

        def check(kill):
            # The index layer is emptied before it is written again.
            assert_old_or_new(snapshot(work), trials.old, trials.new, may_be_missing=os.path.join(".zr", "index", ""))
            zr.build_index(str(work))
            assert snapshot(work) == trials.new

        # Every file is written aside: a write cut off half-way is never seen.
        assert trials.kill_everywhere(check, torn_writes=True) >= 85


def changed_files_state(state, old, new, skip=()):
    """Whether the files a call changes are all "old", all "new", or mixed."""
    found = set()
    for path in set(old) | set(new):
        if old.get(path) == new.get(path) or path == LOG or path.startswith(skip):
            continue
        found.add("old" if state.get(path) == old.get(path) else "new")
    return "mixed" if len(found) > 1 else found.pop()


class TestRevocationRewrites:
    """A toggle is all or nothing per call, except between the renames of the
    shards of several authors of one name, and its log line comes last. A
    call killed before its first rename is finished by a re-run; a re-run
    after a later kill would toggle back, which is why the log line tells."""

    def toggle_trials(self, rig, tmp_path, call, args_after_root, derived=()):
        """`args_after_root(sections)`: the call's arguments after the root.
        Returns the kills and, for each kill that left the call's files mixed,
        how many renames had run."""
        template, work = tmp_path / "template", tmp_path / "work"
        sections = tracked_store(template, anns=3)
        zr.clean(str(template), False)  # the tracked entries in a chunk file, and the token binary index
        token_pid_file(template, 8, [(3, [s]) for s in sections])
        token_pid_file(template, 9, [(4, [sections[2]])])
        zr.token_index_merge_pid_files(str(template), "tk")  # two more chunk files
        zr.token_index_build_binary_index(str(template), "tk")
        args = [work] + args_after_root(sections)
        trials = Trials(rig, template, work, call, args)
        forget_sets = {"old": zr.generate_forget_set(str(template), "tk"), "new": zr.generate_forget_set(str(work), "tk")}
        renamed = sum(1 for p in trials.new if trials.old.get(p) != trials.new[p] and p != LOG
                      and not p.startswith(derived))
        mixed = []

        def check(kill):
            state = snapshot(work)
            assert_old_or_new(state, trials.old, trials.new)
            whole = changed_files_state(state, trials.old, trials.new, skip=derived)
            if state[LOG] == trials.new[LOG]:
                assert whole == "new"
            # The new files are renamed into place one right after the other,
            # as the call's first renames; nothing is written between them
            # (flushing a directory aside).
            assert (whole == "mixed") == (0 < kill.done["rename"] < renamed), "partly toggled outside the renames"
            if whole == "mixed":
                assert kill.kind in ("rename", "fsync"), "written while partly toggled"
                mixed.append(kill.done["rename"])
                return
            assert zr.generate_forget_set(str(work), "tk") == forget_sets[whole]
            if whole == "old":
                getattr(zr, call)(*plain(args))
                assert {p: d for p, d in snapshot(work).items() if not p.startswith(derived)} == \
                       {p: d for p, d in trials.new.items() if not p.startswith(derived)}

        kills = trials.kill_everywhere(check, torn_writes=True)
        return kills, mixed

    def test_section_and_manifest_toggles_are_all_or_nothing(self, rig, tmp_path):
        kills, mixed = self.toggle_trials(rig, tmp_path / "s", "revoke_section", lambda sections: [sections[0]])
        assert mixed == [] and kills >= 6
        kills, mixed = self.toggle_trials(rig, tmp_path / "m", "revoke_manifest",
                                          lambda sections: [line_hash({"n": 3}), "data.jsonl"])
        assert mixed == [] and kills >= 6

    def test_authors_of_one_name_in_three_shards_are_mixed_only_between_renames(self, rig, tmp_path):
        kills, mixed = self.toggle_trials(rig, tmp_path, "revoke_by_author", lambda sections: ["Ann"])
        assert sorted(set(mixed)) == [1, 2] and kills >= 12

    def test_token_entries_in_several_chunk_files(self, rig, tmp_path):
        kills, mixed = self.toggle_trials(rig, tmp_path, "revoke_by_author_token", lambda sections: ["Ann", "tk"],
                                          derived=os.path.join(".zr", "token-index.tk.bin"))
        assert sorted(set(mixed)) == [1, 2] and kills >= 16


def pid_files(root, prefix):
    """The per-process files of the store: `prefix` and a number."""
    store_dir = os.path.join(root, ".zr")
    return sorted(os.path.join(store_dir, n) for n in os.listdir(store_dir)
                  if n.startswith(prefix) and n[len(prefix):].isdigit())


def chunk_lines(root):
    merged = os.path.join(root, ".zr", "token-index.tk")
    if not os.path.isdir(merged):
        return collections.Counter()
    return lines_of(os.path.join(merged, n) for n in os.listdir(merged) if not is_leftover(n))


def pid_file_lines(paths):
    """Each per-process file's records, as the store writes them."""
    return [collections.Counter(compact(r) for r in zr.jsonl_read(p)) for p in paths]


class TestTokenMerge:
    def test_entries_are_never_lost_and_at_most_one_file_doubles(self, rig, tmp_path):
        template, work = tmp_path / "template", tmp_path / "work"
        zr.init(str(template))
        token_pid_file(template, 100, [(1, ["a"]), (2, ["b"])])
        zr.token_index_merge_pid_files(str(template), "tk")  # an existing chunk file
        for pid in (201, 202, 203, 204, 205):
            token_pid_file(template, pid, [(pid, ["s%d" % k]) for k in range(3)])
        per_file = pid_file_lines(pid_files(template, "token-index.tk."))
        expected = chunk_lines(template) + sum(per_file, collections.Counter())
        trials = Trials(rig, template, work, "token_index_merge_pid_files", [work, "tk"])
        doubled = []

        def check(kill):
            found = chunk_lines(work) + sum(pid_file_lines(pid_files(work, "token-index.tk.")), collections.Counter())
            assert_no_loss_and_bounded_doubles(found, expected, per_file)
            zr.token_index_merge_pid_files(str(work), "tk")
            assert pid_files(work, "token-index.tk.") == []
            if assert_no_loss_and_bounded_doubles(chunk_lines(work), expected, per_file):
                # Only within a file's window: its chunk renamed in, the file not yet removed.
                assert kill.done["rename"] > kill.done["unlink"]
                doubled.append(kill)

        assert trials.kill_everywhere(check) >= 16
        print("\ntoken merge: kills whose re-run doubled one file:", len(doubled))


class TestClean:
    def test_folds_lose_nothing_and_double_at_most_one_file(self, rig, tmp_path):
        template, work = tmp_path / "template", tmp_path / "work"
        sections = tracked_store(template, lines=6)
        zr.clean(str(template), False)
        zr.revoke_section(str(template), sections[2])  # something to archive
        hashes = [line_hash({"d": i}) for i in range(15)]
        for n, first in enumerate(range(0, 15, 3)):
            write_lines(os.path.join(template, ".zr", "docidx.%d" % (500 + n)),
                        [{"line_hash": h, "file": "d.jsonl", "sources": [sections[0]]} for h in hashes[first:first + 3]])
        for pid in (301, 302):
            token_pid_file(template, pid, [(pid, [sections[1]]), (pid + 1, [sections[0]])])
        docidx_per_file = pid_file_lines(pid_files(template, "docidx."))
        tokens_per_file = pid_file_lines(pid_files(template, "token-index.tk."))
        expected_docs = document_lines(template) + sum(docidx_per_file, collections.Counter())
        expected_tokens = chunk_lines(template) + sum(tokens_per_file, collections.Counter())
        trials = Trials(rig, template, work, "clean", [work, False])
        doubled = collections.Counter()

        def check(kill):
            docs = document_lines(work) + sum(pid_file_lines(pid_files(work, "docidx.")), collections.Counter())
            assert_no_loss_and_bounded_doubles(docs, expected_docs, docidx_per_file)
            tokens = chunk_lines(work) + sum(pid_file_lines(pid_files(work, "token-index.tk.")), collections.Counter())
            assert_no_loss_and_bounded_doubles(tokens, expected_tokens, tokens_per_file)
            archive = work / ".zr" / "archive"
            for path in archive.iterdir() if archive.is_dir() else []:
                jsonl_lines(path)  # record archives only ever get whole lines

            zr.clean(str(work), False)
            assert pid_files(work, "docidx.") == [] and pid_files(work, "token-index.tk.") == []
            assert leftovers(work) == []
            doubled["docidx"] += assert_no_loss_and_bounded_doubles(document_lines(work), expected_docs,
                                                                    docidx_per_file)
            doubled["token"] += assert_no_loss_and_bounded_doubles(chunk_lines(work), expected_tokens,
                                                                   tokens_per_file)

        assert trials.kill_everywhere(check) >= 30
        print("\nclean: re-runs that doubled one file:", dict(doubled))


def document_lines(root):
    layer = os.path.join(root, ".zr", "document-index")
    return lines_of(os.path.join(layer, n) for n in os.listdir(layer) if len(n) == 2)


def archived_lines(root, pending):
    """The `line` values of the purge archives, or (pending=True) of the
    records a killed purge left waiting beside them, as compact text."""
    archive = os.path.join(root, ".zr", "archive")
    names = os.listdir(archive) if os.path.isdir(archive) else []
    if pending:
        chosen = [n for n in names if n.startswith(".purge-pending.") and n.endswith(".lines")]
    else:
        chosen = [n for n in names if n.startswith("purge.")]
    return collections.Counter(compact(r["line"]) for n in chosen for r in zr.jsonl_read(os.path.join(archive, n)))


def data_lines(path):
    return collections.Counter(compact(json.loads(line)) for line in Path(path).read_text().splitlines() if line)


def restore_everything(root, data):
    """What the docs tell a user to do after a killed purge: pending records
    joined to the archive of their second by hand, then every archive
    restored, newest first."""
    archive = os.path.join(root, ".zr", "archive")
    names = os.listdir(archive) if os.path.isdir(archive) else []
    for name in (n for n in names if n.startswith(".purge-pending.") and n.endswith(".lines")):
        stamp = name[len(".purge-pending."):][:15]
        with open(os.path.join(archive, "purge." + stamp), "ab") as out:
            out.write(Path(archive, name).read_bytes())
        os.remove(os.path.join(archive, name))
        os.remove(os.path.join(archive, name[:-len(".lines")]))
    while purge_archives(root):
        zr.purge_reverse(str(root), str(data))


class TestPurge:
    @pytest.mark.parametrize("call", ["purge_revoked", "purge_by_author_indexd"])
    def test_no_line_is_lost_or_archived_while_still_in_the_data_file(self, rig, tmp_path, call):
        template, work = tmp_path / "template", tmp_path / "work"
        sections = tracked_store(template, lines=30)
        write_lines(os.path.join(template, "data.jsonl"), [{"n": i} for i in range(30)])
        zr.build_index(str(template))
        zr.revoke_by_author(str(template), "Ann")
        for section in sections[:2]:  # Ann's two sections
            zr.revoke_section(str(template), section)
        data = os.path.join(work, "data.jsonl")
        args = [work, data, False] if call == "purge_revoked" else [work, "Ann", data, False]
        original = data_lines(os.path.join(template, "data.jsonl"))
        trials = Trials(rig, template, work, call, args)
        removed = original - data_lines(data)
        assert sum(removed.values()) == 20

        def check(kill):
            assert_old_or_new({"data": Path(data).read_bytes()}, {"data": trials.old["data.jsonl"]},
                              {"data": trials.new["data.jsonl"]})
            in_data = data_lines(data)
            archived = archived_lines(work, pending=False)
            assert not (archived & in_data), "archived while still in the data file"
            assert not original - (in_data + archived + archived_lines(work, pending=True)), "lost"
            getattr(zr, call)(*plain(args))
            assert Path(data).read_bytes() == trials.new["data.jsonl"]
            zr.clean(str(work), False)
            # Each removed line is kept once: archived, or pending when that is its only copy.
            assert archived_lines(work, pending=False) + archived_lines(work, pending=True) == removed
            restore_everything(work, data)
            assert data_lines(data) == original

        assert trials.kill_everywhere(check, torn_writes=True) >= 14


def purge_archives(root):
    archive = os.path.join(root, ".zr", "archive")
    return sorted(n for n in os.listdir(archive) if n.startswith("purge.")) if os.path.isdir(archive) else []


def readable_lines(data):
    """The lines of a data file that parse, as compact text (a cut-off
    fragment is no line)."""
    found = collections.Counter()
    for line in data.decode().splitlines():
        try:
            found[compact(json.loads(line))] += 1
        except ValueError:
            pass
    return found


class TestPurgeReverse:
    @pytest.mark.parametrize("tail", [b"", b'{"cut'], ids=["whole_lines", "cut_off_tail"])
    def test_a_rerun_restores_every_archived_line_exactly_once(self, rig, tmp_path, tail):
        template, work = tmp_path / "template", tmp_path / "work"
        sections = tracked_store(template, lines=12)
        write_lines(os.path.join(template, "data.jsonl"), [{"n": i} for i in range(12)])
        zr.revoke_section(str(template), sections[0])
        zr.purge_revoked(str(template), os.path.join(template, "data.jsonl"), False)
        with open(os.path.join(template, "data.jsonl"), "ab") as f:
            f.write(tail)  # a writer killed mid-line: the restored block starts with "\n"
        archived = archived_lines(template, pending=False)
        assert sum(archived.values()) == 4
        data = os.path.join(work, "data.jsonl")
        trials = Trials(rig, template, work, "purge_reverse", [work, data])
        old, new = trials.old["data.jsonl"], trials.new["data.jsonl"]
        assert readable_lines(new) == readable_lines(old) + archived

        def check(kill):
            now = Path(data).read_bytes()
            assert now.startswith(old) and new.startswith(now), "the data file is not old plus part of the block"
            if purge_archives(work):
                assert archived_lines(work, pending=False) == archived, "the archive changed"
            zr.purge_reverse(str(work), data)
            assert Path(data).read_bytes() == new
            assert purge_archives(work) == []
            zr.clean(str(work), False)
            assert leftovers(work) == []

        assert trials.kill_everywhere(check, torn_writes=True) >= 10


def query_answers(root, sections):
    """What the attribution queries answer, each as a sorted list of JSON texts."""
    def texts(values):
        return sorted(json.dumps(v, sort_keys=True) for v in values)
    root = str(root)
    return {
        "show_by_author": [texts(zr.show_by_author(root, name)) for name in ("Ann", "Bob", "Cy")],
        "show_by_license": texts(zr.show_by_license(root, "MIT")),
        "show_by_section": [texts(zr.show_by_section(root, s)) for s in sections],
        "read_all_documents": texts(zr.read_all_documents(root)),
        "author_query": [texts(zr.author_query(root, name, None)) for name in ("Ann", "Bob", "Cy")],
    }


class TestMergeAbsorb:
    def test_after_a_rerun_every_query_answers_as_after_an_uninterrupted_merge(self, rig, tmp_path):
        source, template, work = tmp_path / "source", tmp_path / "template", tmp_path / "work"
        sections = tracked_store(source, lines=8)
        zr.clean(str(source), False)  # the token entries into a chunk file
        zr.init(str(template))
        cy = zr.author_add("Cy", "cy@example.org", str(template))
        sections.append(zr.register_section("own", [cy], [], "MIT", "2023", str(template)))
        zr.track({"own": 1}, "data.jsonl", [sections[-1]], str(template))
        zr.build_index(str(template))  # an index that knows nothing of the source
        trials = Trials(rig, template, work, "merge_absorb", [source, work])
        expected = query_answers(work, sections)
        assert len(expected["show_by_author"][0]) > 0

        mark = os.path.join(".zr", "index-rebuild-needed")

        def check(kill):
            state = snapshot(work)
            for path, data in state.items():
                if path in (LOG, mark):
                    continue
                # Shards and chunk files only grow towards their new selves;
                # derived files are replaced whole.
                old, new = trials.old.get(path), trials.new.get(path, b"")
                assert data in (old, new) or (data.startswith(old or b"") and new.startswith(data)), path
            index_layer = os.path.join(".zr", "index", "")
            assert all(p in state or p.startswith(index_layer) for p in trials.old), "a file vanished"
            zr.merge_absorb(str(source), str(work))
            assert query_answers(work, sections) == expected
            assert not os.path.exists(os.path.join(work, mark))

        assert trials.kill_everywhere(check, torn_writes=True) >= 50


class TestTrackLines:
    """Bulk tracking writes each file once per batch, shards in name order and then the token file: a kill
    leaves in each file its old bytes and a prefix of its new records."""

    LINES = ['{"n":%d}' % i for i in range(40)] + ["not json", "", '{"n":-0}', "[1,2]\r"]

    @staticmethod
    def files(root):
        """The store's files; the token file of whichever child wrote it under one name."""
        return {re.sub(r"token-index\.tk\.\d+$", "token-index.tk.child", path): data
                for path, data in snapshot(root).items()}

    def test_a_kill_leaves_old_bytes_and_a_prefix_of_the_new_records_in_each_file(self, rig, tmp_path):
        template, work = tmp_path / "template", tmp_path / "work"
        sections = tracked_store(template, lines=20)  # old records in many shards
        zr.token_index_merge_pid_files(str(template), "tk")  # no token file of this process's in the way
        args = [self.LINES, "data.jsonl", sections[:1], work, list(range(len(self.LINES))), "tk"]
        trials = Trials(rig, template, work, "_zr_bulk.track_lines", args)
        old, new = self.files(template), self.files(work)
        order = sorted(path for path in new if new[path] != old.get(path))  # the order of the writes
        assert len(order) > 10 and order[-1].endswith("token-index.tk.child")

        def rerun_records_every_line():
            _zr_bulk.track_lines(*plain(args))
            for path in order[:-1]:  # the shards (this process's token entries go to a file of its own)
                assert set(readable_lines(new[path])) <= set(readable_lines((work / path).read_bytes())), path

        kills = collections.Counter()

        def check(kill):
            kills[kill.torn] += 1
            state = self.files(work)  # a file opened but not yet written is empty
            if kill.torn:  # a write cut off half-way
                for path in order:
                    data, before = state.get(path, b""), old.get(path, b"")
                    assert data.startswith(before) and new[path].startswith(data), path
                assert sum(not data.endswith(b"\n") for data in state.values() if data) <= 1
            else:
                assert all(state.get(path, b"") in (old.get(path, b""), new[path]) for path in order)
                assert [path for path in order if state.get(path) == new[path]] == order[:kill.done["write"]]
            rerun_records_every_line()

        trials.kill_everywhere(check, torn_writes=True)
        assert kills == {False: len(order), True: len(order)}
