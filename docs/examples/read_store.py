"""Reading a store without the module: a sketch that follows the pages of docs/.

    python3 read_store.py <root> <author name> [<tokenizer>]

prints the tracked lines attributed to the author, found through index.bin,
and, given a tokenizer, the forget set read from its token binary index.
Standard library only. It skips the damage checks a real reader needs.
"""

import json
import os
import struct
import sys


def read_jsonl(path):
    """The values of a JSON Lines file; a missing file is empty, bad lines are skipped."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    values = []
    for piece in data.split(b"\n"):
        if piece.endswith(b"\r"):
            piece = piece[:-1]
        try:
            values.append(json.loads(piece.decode("utf-8")))
        except ValueError:  # empty, not JSON, or not UTF-8
            pass
    return values


def read_index_bin(path):
    """{key bytes: (shard numbers, token refs)} from index.bin."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"ZRIDXF02", "not an index.bin of this format"
    count, _reserved, fanout_at = struct.unpack_from("<IIQ", data, 8)
    entries, pos = {}, 24
    for _ in range(count):
        key = data[pos:pos + 32]
        (size,) = struct.unpack_from("<H", data, pos + 32)
        payload, shards, tokens, i = data[pos + 34:pos + 34 + size], [], [], 0
        while i < size:
            if payload[i] == 0:  # shard ref: tag, shard
                shards.append(payload[i + 1])
                i += 2
            else:  # token ref: tag, name length, name, chunk u16, offset u32, length u32
                n = payload[i + 1]
                name = payload[i + 2:i + 2 + n].decode("utf-8", "replace")
                tokens.append((name,) + struct.unpack_from("<HII", payload, i + 2 + n))
                i += 12 + n
        entries[key] = (shards, tokens)
        pos += 34 + size
    assert pos == fanout_at
    return entries


def author_ids(root, name):
    ids, layer = set(), os.path.join(root, ".zr", "authors")
    for shard in sorted(os.listdir(layer)):
        if len(shard) != 2 or not os.path.isfile(os.path.join(layer, shard)):
            continue
        for record in read_jsonl(os.path.join(layer, shard)):
            if isinstance(record, dict) and record.get("name") == name and isinstance(record.get("id"), str):
                ids.add(record["id"])
    return ids


def lines_of_author(root, name):
    """Document records of the author's sections: ids -> sections -> lines, through index.bin."""
    store = os.path.join(root, ".zr")
    index = read_index_bin(os.path.join(store, "index.bin"))

    def shards_of(keys):
        return {"%02x" % s for k in keys for s in index.get(bytes.fromhex(k), ([], []))[0]}

    ids = author_ids(root, name)
    sections = set()
    for shard in shards_of(ids):
        for record in read_jsonl(os.path.join(store, "sections", shard)):
            if isinstance(record, dict) and ids.intersection(record.get("authors") or []):
                sections.add(record["section_hash"])
    lines = []
    for shard in sorted(shards_of(sections)):
        for record in read_jsonl(os.path.join(store, "document-index", shard)):
            if isinstance(record, dict) and sections.intersection(record.get("sources") or []):
                lines.append({k: record[k] for k in ("file", "line_hash", "sources")})
    return lines


def forget_set_from_token_bin(path):
    """The forget set: bit i of the mask set when entry i's revoked byte is non-zero."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:9] == b"ZRIDXTI01" and struct.unpack_from("<I", data, 9)[0] == 1
    (n,) = struct.unpack_from("<I", data, 13)
    (entry_table,) = struct.unpack_from("<I", data, 21)
    mask = bytearray((n + 7) // 8)
    for i in range(n):
        if data[entry_table + 16 * i + 10]:
            mask[i // 8] |= 1 << (i % 8)
    return bytes(mask)


if __name__ == "__main__":
    root, author = sys.argv[1], sys.argv[2]
    for line in lines_of_author(root, author):
        print(json.dumps(line))
    if len(sys.argv) > 3:
        print(forget_set_from_token_bin(os.path.join(root, ".zr", "token-index.%s.bin" % sys.argv[3])).hex())
