"""A walk through the _zr_native module on the bundled sample corpus.

Creates a throw-away project in a temporary directory, copies the sample
data into it and runs the module's operations step by step, printing what
each one did. Run it through scripts/walkthrough.sh, which builds the module
first.
"""

import json
import os
import shutil
import sys
import tempfile

import _zr_native as zr

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "sample", "corpus.jsonl")


def step(title):
    print()
    print(f"== {title}")


def show_file(path, limit=3):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    for line in lines[:limit]:
        print(f"   | {line}")
    if len(lines) > limit:
        print(f"   | ... ({len(lines)} lines)")


def relative(project, path):
    return os.path.relpath(path, project)


def main():
    project = tempfile.mkdtemp(prefix="zr-walkthrough-")
    try:
        data_file = os.path.join(project, "corpus.jsonl")
        shutil.copy(SAMPLE, data_file)
        with open(data_file, encoding="utf-8") as f:
            lines = f.read().splitlines()
        print(f"project root: {project}")
        print(f"sample data:  corpus.jsonl, {len(lines)} lines")

        step("init: create the store")
        zr.init(project)
        for name in sorted(os.listdir(os.path.join(project, ".zr"))):
            print(f"   .zr/{name}")

        step("compute_hash: content hashes do not depend on spelling")
        first = json.loads(lines[0])
        print(f"   line 0 as written      -> {zr.compute_hash(first)}")
        reordered = dict(reversed(list(first.items())))
        print(f"   same keys, other order -> {zr.compute_hash(reordered)}")
        print(f"   1 vs 1.0               -> {zr.compute_hash(1)[:16]}... vs {zr.compute_hash(1.0)[:16]}...")

        step("jsonl_append / jsonl_read: compact, sorted, exact")
        notes = os.path.join(project, "notes.jsonl")
        zr.jsonl_append(notes, {"z": 1, "a": "café", "list": [1.0, 1e21, -0.0]})
        zr.jsonl_append(notes, {"tab": "\t", "quote": '"'})
        show_file(notes)
        print(f"   read back: {zr.jsonl_read(notes)}")

        step("shards: records spread by the first two characters of their hash")
        line_hash = zr.compute_hash(first)
        shard = zr.shard_path_str(project, "document-index", line_hash)
        print(f"   shard of {line_hash[:8]}... is {relative(project, shard)}")
        zr.jsonl_append(shard, {"line_hash": line_hash, "note": "hand-written record"})
        print(f"   shard_read -> {zr.shard_read(project, 'document-index', line_hash)}")
        print(f"   shard_iterate_all over the layer -> {len(zr.shard_iterate_all(project, 'document-index'))} record(s)")

        step("oplog_append: the operation log (the system's own operations log here too)")
        zr.oplog_append(project, "walkthrough", "started")
        show_file(os.path.join(project, ".zr", "log"))

        step("author_add / author_query: the author registry")
        people = [("Ada Quill", "ada@example.org"), ("Bram Osei", "bram@example.org"), ("Chen Liu", "chen@example.org")]
        author_ids = {}
        for name, email in people:
            author_ids[name] = zr.author_add(name, email, project)
            print(f"   {name:<10} -> id {author_ids[name][:16]}...")
        print(f"   author_query(name='Bram Osei') -> {zr.author_query(project, 'Bram Osei', None)}")

        step("register_section: sections of the corpus, with authors and licences")
        licences = {"Ada Quill": "MIT", "Bram Osei": "CC-BY-4.0", "Chen Liu": "MIT"}
        sections = {}
        for name, _ in people:
            sections[name] = zr.register_section(
                f"corpus.jsonl#{name.split()[0].lower()}", [author_ids[name]], [], licences[name], "2026", project)
            print(f"   {name:<10} ({licences[name]:<9}) -> section {sections[name][:16]}...")

        step("track: every line of the sample, attributed to a section, with its token count")
        owner_of_line = [people[i % 3][0] for i in range(len(lines))]
        line_hashes = []
        for i, text in enumerate(lines):
            record = json.loads(text)
            line_hashes.append(zr.track(record, "corpus.jsonl", [sections[owner_of_line[i]]], project,
                                        len(record["text"].split()), "words"))
        print(f"   tracked {len(line_hashes)} lines; line 0 -> {line_hashes[0][:16]}...")
        pid_files = sorted(n for n in os.listdir(os.path.join(project, ".zr")) if n.startswith("token-index."))
        print(f"   per-process token files: {pid_files}")

        step("blame / lookup_document: where did a line come from?")
        for record in zr.blame(project, "corpus.jsonl", lines[4]):
            print(f"   line 4 -> file {record['file']}, sources {[s[:12] + '...' for s in record['sources']]}")
        print(f"   lookup_document of line 4's hash -> {len(zr.lookup_document(project, line_hashes[4]))} record(s)")
        print(f"   blame of text never tracked -> {zr.blame(project, 'corpus.jsonl', 'not tracked')}")

        step("blame_diff: carry blame across a new version of the file")
        edited = lines[:3] + ['{"id": 99, "text": "a new line"}'] + lines[3:10] + lines[12:]
        for tag, i1, i2, j1, j2 in zr.blame_diff(lines, edited):
            print(f"   {tag:<7} old[{i1}:{i2}] new[{j1}:{j2}]")

        step("token index: merge per-process files, status, binary index")
        print(f"   tokenizers: {zr.token_index_list_tokenizers(project)}")
        print(f"   merge_pid_files -> (entries merged, files handled) = {zr.token_index_merge_pid_files(project, 'words')}")
        print(f"   token_status -> {zr.token_index_token_status(project, 'words')}")
        print(f"   build_binary_index -> {zr.token_index_build_binary_index(project, 'words')}")

        step("build_index: the attribution index (index layer and index.bin)")
        print(f"   build_index -> {zr.build_index(project)}")
        print(f"   index.bin: {os.path.getsize(os.path.join(project, '.zr', 'index.bin'))} bytes")

        step("queries by author, licence and section")
        indexed = zr.show_by_author(project, "Bram Osei")
        index_bin = os.path.join(project, ".zr", "index.bin")
        os.rename(index_bin, index_bin + ".aside")
        scanned = zr.show_by_author(project, "Bram Osei")
        os.rename(index_bin + ".aside", index_bin)
        key = lambda r: (r["line_hash"], r["file"])
        print(f"   show_by_author('Bram Osei'): {len(indexed)} lines through index.bin, {len(scanned)} by scanning;"
              f" same records: {sorted(indexed, key=key) == sorted(scanned, key=key)}")
        print(f"   show_by_license('MIT') -> {len(zr.show_by_license(project, 'MIT'))} lines")
        print(f"   show_by_license('mit') -> {len(zr.show_by_license(project, 'mit'))} lines (exact match only)")
        print(f"   show_by_section(Chen's section) -> {len(zr.show_by_section(project, sections['Chen Liu']))} lines")
        tokens = zr.show_by_author_token(project, "Bram Osei", "words")
        print(f"   show_by_author_token('Bram Osei') -> {tokens['total_tokens']} tokens in {tokens['document_count']} lines")

        step("revocation: an author withdraws")
        print(f"   revoke_by_author('Bram Osei') -> {zr.revoke_by_author(project, 'Bram Osei')} author record(s) toggled")
        print(f"   revoke_section(Bram's section) -> {zr.revoke_section(project, sections['Bram Osei'])} section(s) toggled")
        print(f"   revoke_by_author_token -> {zr.revoke_by_author_token(project, 'Bram Osei', 'words')} token entries toggled")
        after = zr.show_by_author_token(project, "Bram Osei", "words")
        print(f"   show_by_author_token now counts {after['document_count']} unrevoked lines")

        step("forget set: a bit mask over the token index, revoked entries set")
        mask = zr.generate_forget_set(project, "words")
        bits = "".join("1" if mask[i // 8] >> (i % 8) & 1 else "0" for i in range(len(lines)))
        print(f"   {len(mask)} bytes: {mask.hex()}  (entry bits: {bits})")
        mask_file = os.path.join(project, "words.forget")
        zr.write_forget_set(mask_file, mask)
        print(f"   written to {relative(project, mask_file)} ({os.path.getsize(mask_file)} bytes)")

        step("purge: remove the revoked lines from the data file, with an archive")
        print(f"   purge_by_author_indexd dry run -> {zr.purge_by_author_indexd(project, 'Bram Osei', data_file, True)}")
        print(f"   purge_revoked dry run          -> {zr.purge_revoked(project, data_file, True)}"
              " (counts the revoked-document list only)")
        print(f"   purge_revoked                  -> {zr.purge_revoked(project, data_file, False)}")
        with open(data_file, encoding="utf-8") as f:
            print(f"   corpus.jsonl now has {len(f.read().splitlines())} lines")
        archive_dir = os.path.join(project, ".zr", "archive")
        for name in sorted(os.listdir(archive_dir)):
            print(f"   archive: .zr/archive/{name}")
            show_file(os.path.join(archive_dir, name), limit=1)

        step("purge_reverse: undo the newest purge")
        print(f"   purge_reverse -> {zr.purge_reverse(project, data_file)} lines restored")
        with open(data_file, encoding="utf-8") as f:
            print(f"   corpus.jsonl has {len(f.read().splitlines())} lines again (restored ones at the end)")
        print("   and a second call finds nothing left to restore:")
        zr.purge_reverse(project, data_file)

        step("clean: housekeeping")
        zr.track({"late": True}, "corpus.jsonl", [sections["Ada Quill"]], project, 2, "words")
        print(f"   clean -> {zr.clean(project, False)}")

        step("merge_absorb: absorb this store into another project's")
        other = os.path.join(project, "other-project")
        zr.init(other)
        zr.author_add("Dana Veld", "dana@example.org", other)
        print(f"   first merge  -> {zr.merge_absorb(project, other)}")
        print(f"   second merge -> {zr.merge_absorb(project, other)} (everything already there)")

        step("the operation log")
        show_file(os.path.join(project, ".zr", "log"), limit=20)
    finally:
        shutil.rmtree(project, ignore_errors=True)
    print()
    print("walkthrough finished")
    return 0


if __name__ == "__main__":
    sys.exit(main())
