"""Store creation and the operation log."""

import errno
import os
import re
import time

import pytest

import _zr_native as zr

LAYERS = ["authors", "sections", "document-index", "index"]


def test_init_creates_missing_parents_the_layers_and_an_empty_log(tmp_path):
    root = tmp_path / "a" / "b"
    zr.init(str(root))
    store = root / ".zr"
    assert sorted(os.listdir(store)) == sorted(LAYERS + ["log"])
    for layer in LAYERS:
        assert (store / layer).is_dir()
        assert os.listdir(store / layer) == []
    assert (store / "log").read_bytes() == b""


def test_init_again_empties_the_log_and_keeps_everything_else(tmp_path):
    zr.init(str(tmp_path))
    store = tmp_path / ".zr"
    (store / "log").write_text("0-00:00:00 op detail\n")
    (store / "authors" / "ab").write_text('{"id":"ab"}\n')
    (store / "document-index" / "revoked").mkdir()
    (store / "index.bin").write_bytes(b"ZRIDXF02")
    zr.init(str(tmp_path))
    zr.init(str(tmp_path))
    assert (store / "log").read_bytes() == b""
    assert (store / "authors" / "ab").read_text() == '{"id":"ab"}\n'
    assert (store / "document-index" / "revoked").is_dir()
    assert (store / "index.bin").read_bytes() == b"ZRIDXF02"


def test_init_with_a_relative_root_works_from_the_current_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    zr.init("rel/root")
    assert (tmp_path / "rel" / "root" / ".zr" / "log").is_file()


@pytest.mark.parametrize(
    "blocker, code",
    [
        ("root", errno.ENOTDIR),  # the root itself is a regular file
        ("root/.zr", errno.ENOTDIR),
        ("root/.zr/sections", errno.EEXIST),
        ("root/.zr/log", errno.EISDIR),  # a directory in the log's place
    ],
)
def test_init_failures_carry_the_systems_message_alone(tmp_path, blocker, code):
    path = tmp_path / blocker
    path.parent.mkdir(parents=True, exist_ok=True)
    if blocker.endswith("log"):
        path.mkdir()
    else:
        path.write_text("")
    with pytest.raises(RuntimeError) as info:
        zr.init(str(tmp_path / "root"))
    assert info.value.args == (os.strerror(code),)


def test_init_stops_at_the_first_failure_keeping_what_it_made(tmp_path):
    store = tmp_path / ".zr"
    store.mkdir()
    (store / "document-index").write_text("")
    with pytest.raises(RuntimeError):
        zr.init(str(tmp_path))
    assert sorted(os.listdir(store)) == ["authors", "document-index", "sections"]


# --- the operation log -------------------------------------------------------

LINE = re.compile(r"(0|[1-9][0-9]*)-([01][0-9]|2[0-3]):([0-5][0-9]):([0-5][0-9]) (.*)\n")


def test_log_line_format_and_clock(tmp_path):
    zr.init(str(tmp_path))
    before = int(time.time())
    zr.oplog_append(str(tmp_path), "revoke_section", "section=abc count=2")
    after = int(time.time())
    text = (tmp_path / ".zr" / "log").read_text()
    match = LINE.fullmatch(text)
    assert match, text
    days, hours, minutes, seconds, rest = match.groups()
    stamp = int(days) * 86400 + int(hours) * 3600 + int(minutes) * 60 + int(seconds)
    assert before <= stamp <= after
    assert rest == "revoke_section section=abc count=2"


def test_log_lines_are_appended_in_call_order_exactly_as_given(tmp_path):
    zr.init(str(tmp_path))
    calls = [("op", ""), ("two words", "x"), ("op", "line\nbreak"), ("é", "😀 \t")]
    for operation, detail in calls:
        zr.oplog_append(str(tmp_path), operation, detail)
    text = (tmp_path / ".zr" / "log").read_text()
    lines = re.split(r"(?m)^(?=\d+-\d\d:\d\d:\d\d )", text)[1:]
    assert [re.sub(r"^\S+ ", "", line) for line in lines] == [f"{o} {d}\n" for o, d in calls]
    assert lines[0].endswith(" op \n")


def test_log_is_created_in_an_existing_store(tmp_path):
    (tmp_path / ".zr").mkdir()
    zr.oplog_append(str(tmp_path), "clean", "done")
    assert LINE.fullmatch((tmp_path / ".zr" / "log").read_text())


def test_log_without_a_store_fails_and_creates_nothing(tmp_path):
    with pytest.raises(RuntimeError) as info:
        zr.oplog_append(str(tmp_path), "op", "detail")
    assert info.value.args == (os.strerror(errno.ENOENT),)
    assert list(tmp_path.iterdir()) == []


def test_init_empties_a_log_that_has_lines(tmp_path):
    zr.init(str(tmp_path))
    zr.oplog_append(str(tmp_path), "op", "detail")
    zr.init(str(tmp_path))
    assert (tmp_path / ".zr" / "log").read_bytes() == b""
