"""blame_diff: worked examples, result shape, and properties on random inputs."""
import inspect

import pytest
from hypothesis import given, settings, strategies as st

import _zr_native as zr
from strategies import line_lists


@pytest.mark.parametrize("old, new, expected", [
    (["a", "b", "c"], ["a", "x", "c"],
     [("equal", 0, 1, 0, 1), ("replace", 1, 2, 1, 2), ("equal", 2, 3, 2, 3)]),
    (["x", "a", "b", "y"], ["x", "y"],
     [("equal", 0, 1, 0, 1), ("delete", 1, 3, 1, 1), ("equal", 3, 4, 1, 2)]),
    # The inserted line stands after the first "a", not before it.
    (["a", "b"], ["a", "a", "b"],
     [("equal", 0, 1, 0, 1), ("insert", 1, 1, 1, 2), ("equal", 1, 2, 2, 3)]),
    (["a", "b", "c", "d"], ["a", "c", "b", "d"],
     [("equal", 0, 1, 0, 1), ("insert", 1, 1, 1, 2), ("equal", 1, 2, 2, 3), ("delete", 2, 3, 3, 3),
      ("equal", 3, 4, 3, 4)]),
    # A deletion and an insertion trade places without re-basing: tuples need not tile.
    (["a", "b"], ["b", "b"], [("delete", 0, 1, 1, 1), ("equal", 1, 2, 0, 1), ("insert", 1, 1, 1, 2)]),
    ([], [], []),
    ([], ["a", "b"], [("insert", 0, 0, 0, 2)]),
    (["a", "b"], [], [("delete", 0, 2, 0, 0)]),
    (["a", "b", "c"], ["a", "b", "c"], [("equal", 0, 3, 0, 3)]),
    (["a", "b "], ["a", "B"], [("equal", 0, 1, 0, 1), ("replace", 1, 2, 1, 2)]),
    (["p", "q", "r"], ["x", "y"], [("replace", 0, 3, 0, 2)]),
])
def test_worked_examples(old, new, expected):
    assert zr.blame_diff(old, new) == expected


def test_call_shape():
    assert zr.blame_diff.__doc__.endswith(
        "Compute line-level diff opcodes for blame attribution.\n\nReturns (tag, i1, i2, j1, j2) tuples "
        "compatible with\ndifflib.SequenceMatcher.get_opcodes().")
    assert str(inspect.signature(zr.blame_diff)) == "(old_lines, new_lines)"
    result = zr.blame_diff(("a", "b"), new_lines=["b"])
    assert result == [("delete", 0, 1, 0, 0), ("equal", 1, 2, 0, 1)]
    assert all(type(t) is tuple and type(t[0]) is str and all(type(x) is int for x in t[1:]) for t in result)
    with pytest.raises(TypeError, match=r"^argument 'old_lines': Can't extract `str` to `Vec`$"):
        zr.blame_diff("ab", ["a"])
    with pytest.raises(TypeError, match="^argument 'new_lines': "):
        zr.blame_diff(["a"], [b"a"])


def lcs_length(a, b):
    row = [0] * (len(b) + 1)
    for x in a:
        prev_diag = 0
        for j, y in enumerate(b):
            prev_diag, row[j + 1] = row[j + 1], prev_diag + 1 if x == y else max(row[j + 1], row[j])
    return row[-1]


def check_properties(old, new):
    ops = zr.blame_diff(old, new)
    old_total = new_total = changed = 0
    for tag, i1, i2, j1, j2 in ops:
        assert 0 <= i1 <= i2 <= len(old) and 0 <= j1 <= j2 <= len(new)
        if tag == "equal":
            assert i2 - i1 == j2 - j1 > 0
            assert old[i1:i2] == new[j1:j2]
        elif tag == "delete":
            assert i2 > i1 and j1 == j2
        elif tag == "insert":
            assert i1 == i2 and j2 > j1
        else:
            assert tag == "replace" and i2 > i1 and j2 > j1
        old_total += i2 - i1
        new_total += j2 - j1
        if tag != "equal":
            changed += i2 - i1 + j2 - j1
    # Every line is accounted for once, and no fewer lines could be marked as changed.
    assert (old_total, new_total) == (len(old), len(new))
    # The non-empty ranges follow each other through both lists; only the
    # place of an empty side may be off.
    for side, length in ((slice(1, 3), len(old)), (slice(3, 5), len(new))):
        bounds = [0]
        for start, end in (op[side] for op in ops if op[side][1] > op[side][0]):
            assert start == bounds[-1]
            bounds.append(end)
        assert bounds[-1] == length
    assert changed == len(old) + len(new) - 2 * lcs_length(old, new)
    # Merging leaves unchanged and changed runs alternating.
    assert all((a[0] == "equal") != (b[0] == "equal") for a, b in zip(ops, ops[1:]))
    return ops




@settings(max_examples=400, deadline=None, database=None)
@given(old=line_lists, new=line_lists)
def test_properties_of_random_inputs(old, new):
    check_properties(old, new)


@settings(max_examples=300, deadline=None, database=None)
@given(old=st.lists(st.sampled_from("abc"), min_size=1, max_size=40), data=st.data())
def test_properties_of_edited_versions(old, data):
    new = list(old)
    for _ in range(data.draw(st.integers(0, 4))):
        at = data.draw(st.integers(0, len(new)))
        if at < len(new) and data.draw(st.booleans()):
            del new[at]
        else:
            new.insert(at, data.draw(st.sampled_from("abcd")))
    check_properties(old, new)


@settings(max_examples=100, deadline=None, database=None)
@given(old=st.lists(st.sampled_from("ab"), min_size=1, max_size=30),
       new=st.lists(st.sampled_from("cd"), min_size=1, max_size=30))
def test_inputs_without_common_lines_are_one_replacement(old, new):
    assert check_properties(old, new) == [("replace", 0, len(old), 0, len(new))]


def test_large_input_pairs_equal_lines():
    old = ['{"row": %d}' % (i % 700) for i in range(20000)]
    new = list(old)
    for i in range(0, len(new), 101):
        new[i] = "changed %d" % i
    del new[5000:5040]
    new[12000:12000] = ["inserted"] * 25
    ops = zr.blame_diff(old, new)
    assert sum(i2 - i1 for _, i1, i2, _, _ in ops) == len(old)
    assert sum(j2 - j1 for _, _, _, j1, j2 in ops) == len(new)
    for tag, i1, i2, j1, j2 in ops:
        if tag == "equal":
            assert old[i1:i2] == new[j1:j2]
