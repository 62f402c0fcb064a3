#!/usr/bin/python3
"""Regenerates the seed corpora under fuzz/corpus/.

JSON texts come from the interpreter's json module plus a few hand-written
edge cases (valid and not); the index seeds are the real index.bin and token
binary index that the core's own build writes for the fuzz targets' small
store, exported by running those targets once. Usage:

    /usr/bin/python3 fuzz/make_corpus.py [fuzz build directory]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

VALUES = [
    None, True, False, 0, -1, 42, 2**63 - 1, -(2**63), 2**64 - 1, 2**64, 10**20, -(10**30),
    0.0, -0.0, 1.5, 1e21, 1e-7, 0.00001, 5e-324, 1.7976931348623157e308, 123456789012345.0,
    "", "plain", "quote \" backslash \\ slash /", "\b\f\n\r\t\x00\x1f\x7f", "é中😀",
    [], [1, [2, [3, []]]], {}, {"b": 1, "a": [True, None]}, {"": {"nested": {"deep": [0.5]}}},
]

TEXTS = [
    b"  42  ", b"\t-0\r\n", b"100000000000000000000", b"[5E00000000000000000000]",
    b"0E00080878087580875808", b"500000000E-0000000000000000000207411242", b"1e309", b"-1e400",
    b"true   ", b"false  ", b"false#", b"nullx", b"01", b"-", b"1.", b".5", b"1e", b"+1",
    b'{"a":1,"a":2,"b":3,"a":4}', b'{"b":0,"a":0}', b'"\\ud83d\\ude00"', b'"\\ud83d"', b'"\\udc00x"',
    b'"\xc0\xaf"', b'"\xed\xa0\x80"', b'"\xf4\x90\x80\x80"', b'"\xe2\x82"', b'"tab\there"',
    b"[" * 127 + b"]" * 127, b"[" * 128 + b"]" * 128, b"{\"k\":" * 127 + b"0" + b"}" * 127,
    b"[1,]", b"{,}", b'{"a" 1}', b"[1 2]", b"", b"   ", b"0.1000000000000000055511151231257827",
    b"1" * 400, b"-" + b"9" * 330 + b".5e-10",
]

LINE_FILES = {
    "mixed.jsonl": b'{"a":1}\n{"cut":\n[1,2]',
    "crlf.jsonl": b'{"x":"y"}\r\n\r\n\r\r\n[true]\r\n',
    "blank.jsonl": b"\n\n   \n\t\n",
    "nul.jsonl": b'{"a":"\x00"}\n\x00\n"ok"\n',
    "utf8.jsonl": b'"\xff"\n"\xc3\xa9"\n{"k\xe2\x82":1}\n',
    "roots.jsonl": b"42\n  42  \n100000000000000000000   \ntrue   \nfalse  \nnull\n",
    "long.jsonl": b'{"long":"' + b"x" * 3000 + b'"}\n' + b"[" * 200 + b"]" * 200 + b"\n1e5",
}


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def json_seeds():
    directory = os.path.join(CORPUS, "json")
    shutil.rmtree(directory, ignore_errors=True)
    # Every value inside one array (and once more spread over lines), a few
    # of them also as a whole text of their own.
    roots = [json.dumps(v, ensure_ascii=False).encode() for v in VALUES if not isinstance(v, (int, bool))]
    texts = [json.dumps(VALUES, ensure_ascii=False).encode(), json.dumps(VALUES, indent=2).encode()]
    texts += roots[::2] + TEXTS
    for i, text in enumerate(texts):
        write(directory, "seed-%03d" % i, text)
    lines = os.path.join(CORPUS, "jsonl")
    shutil.rmtree(lines, ignore_errors=True)
    for name, data in LINE_FILES.items():
        write(lines, name, data)
    write(lines, "values.jsonl", b"\n".join(json.dumps(v).encode() for v in VALUES) + b"\n")


def index_seeds(build_dir):
    for target in ("index_bin", "token_bin"):
        directory = os.path.join(CORPUS, target)
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        with tempfile.TemporaryDirectory() as exported, tempfile.TemporaryDirectory() as empty:
            env = dict(os.environ, ZR_FUZZ_EXPORT_SEEDS=exported)
            subprocess.run([os.path.join(build_dir, "fuzz", "fuzz_" + target), "-runs=0", empty],
                           env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            name = "index.bin" if target == "index_bin" else "token-index.bin"
            with open(os.path.join(exported, name), "rb") as f:
                data = f.read()
        write(directory, "built", data)
        # Cut short at a few places: the readers' size checks start there.
        for cut in (len(data) // 2, len(data) - 1):
            write(directory, "cut-%d" % cut, data[:cut])


def main():
    build_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build-fuzz")
    json_seeds()
    index_seeds(build_dir)


if __name__ == "__main__":
    main()
