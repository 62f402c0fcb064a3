"""Native core of a provenance and attribution tool for JSON Lines data.

Everything lives in a store directory `.zr` under a project root, passed to
the store functions as `zr_dir`. Every parameter may be given by position or
by keyword.

Errors shared by every function:
    TypeError: a missing, unknown or doubled argument, or an argument of the
        wrong kind; the message starts with "argument '<name>': ". A `str`
        given where a list of `str` is taken fails with "... Can't extract
        `str` to `Vec`"; an `int` given for a `bool` flag is refused.
    OverflowError: an integer argument below 0 or above 2**64 - 1.
    UnicodeEncodeError: a `str` holding a lone surrogate.
    RuntimeError: the operation failed; the text is the failure's outermost
        message only (for example "opening shard <path>" without the
        operating system's detail), or the JSON parser's message for a value
        that `json.dumps` turns into text that is not JSON (NaN, infinity).
    _zr_native.InternalFault: a broken invariant inside the native core. It
        derives from BaseException, so `except Exception` does not catch it,
        and it is not an attribute of the module.

A call holds the interpreter lock until it returns. The names beginning with
an underscore below exist for type checkers only; import them under
`typing.TYPE_CHECKING`.
"""

from collections.abc import Sequence
from typing import Any, Literal, SupportsIndex, TypedDict

# A list of str as the module takes it: a bare str is refused at run time, so
# the stubs name the sequence types rather than Sequence[str] (which a str is).
_StrList = list[str] | tuple[str, ...]
_StrSet = set[str] | frozenset[str]
_BytesLike = bytes | bytearray | Sequence[int]
_OpcodeTag = Literal["equal", "delete", "insert", "replace"]

class _DocumentRecord(TypedDict):
    """A tracked line as the document index knows it (keys in this order)."""

    file: str
    line_hash: str
    sources: list[str]

class _TokenIndexEntry(TypedDict):
    """One token-index entry (keys in this order)."""

    revoked: bool
    sources: list[str]
    token_count: int
    tokenizer: str

class _BuildIndexCounts(TypedDict):
    authors: int
    sections: int
    total: int
    token_index_entries: int

class _PurgeCounts(TypedDict):
    purged: int
    kept: int
    archived: int

class _CleanCounts(TypedDict):
    document_merged: int
    pid_files_deleted: int
    archived_records: int
    log_rotated: int
    token_index_merged: int
    token_index_pid_deleted: int

class _MergeCounts(TypedDict):
    authors_added: int
    sections_added: int
    document_added: int
    token_index_added: int
    skipped: int

class _TokenStatus(TypedDict):
    total_entries: int
    active_entries: int
    revoked_entries: int
    total_tokens: int

class _AuthorTokens(TypedDict):
    total_tokens: int
    document_count: int
    entries: list[_TokenIndexEntry]

# Store

def init(zr_dir: str) -> None:
    """Create the store skeleton under `zr_dir`.

    Creates `zr_dir/.zr` with the directories `authors`, `sections`,
    `document-index` and `index` (and any missing parents) and an empty
    `log`. Running it on an existing store empties its log and changes
    nothing else.

    Raises:
        RuntimeError: a directory or the log cannot be created (the operating
            system's message), for example when `.zr` is a regular file.
    """

def jsonl_read(path: str) -> list[Any]:
    """Read every parseable line of a JSON Lines file, as Python values.

    Lines end in "\\n" or "\\r\\n"; blank and unparseable lines are skipped.
    A missing file reads as empty. Objects come back as dicts whose keys are
    in ascending byte order; an integer above 2**63 - 1 comes back as float.

    Raises:
        RuntimeError: the file exists but cannot be opened or mapped (for
            example a directory).
    """

def jsonl_append(path: str, record: object) -> None:
    """Append one value to a JSON Lines file as one compact line.

    `record` is turned into JSON by `json.dumps` and written without blanks,
    keys sorted, non-ASCII characters as raw UTF-8, followed by "\\n". The
    file is created if missing; its directory is not. A file whose last line
    lacks its "\\n" gets one first.

    Raises:
        RuntimeError: the file cannot be opened or written (the operating
            system's message), or the value is not JSON (NaN, infinity).
        Whatever `json.dumps` raises for the value (for example TypeError),
        unchanged.
    """

def shard_path_str(zr_dir: str, layer: str, hash_hex: str) -> str:
    """Return the path of the shard that holds `hash_hex` in `layer`.

    The shard is `zr_dir/.zr/<layer>/<first two characters of hash_hex>`;
    nothing is read or created.

    Raises:
        RuntimeError: `hash_hex` is shorter than two characters, or its first
            two characters are "." or "..", or contain "/" or NUL.
    """

def shard_read(zr_dir: str, layer: str, hash_hex: str) -> list[Any]:
    """Read every parseable line of the shard of `hash_hex` in `layer`.

    Returns all records of that shard, including those of other hashes that
    share its first two characters. A missing shard reads as empty.

    Files read: `zr_dir/.zr/<layer>/<first two characters>`.

    Raises:
        RuntimeError: as for `shard_path_str`, or the shard exists but cannot
            be read.
    """

def shard_iterate_all(zr_dir: str, layer: str) -> list[Any]:
    """Read every record of every shard of `layer`.

    Only regular files named by exactly two hex digits are read, in the file
    system's listing order (not sorted). A missing layer reads as empty.

    Raises:
        RuntimeError: the layer cannot be listed (a regular file in its place
            is "Not a directory") or a shard cannot be read.
    """

def compute_hash(data: object) -> str:
    """Return the content hash of a value: 64 lower-case hex characters.

    SHA-256 over the compact JSON text of the value (`json.dumps`, then keys
    sorted, no blanks, raw UTF-8), so key order and spelling do not matter;
    1 and 1.0 hash differently. Reads and writes no file.

    Raises:
        RuntimeError: the value is not JSON (NaN, infinity).
        Whatever `json.dumps` raises for the value, unchanged.
    """

def oplog_append(zr_dir: str, operation: str, detail: str) -> None:
    """Append a line to the store's operation log.

    Writes "<days>-<HH:MM:SS> <operation> <detail>\\n" (UTC; days since
    1970-01-01) to `zr_dir/.zr/log`, creating the log if missing. Nothing is
    escaped: keep `operation` to one word and `detail` to one line.

    Raises:
        RuntimeError: the log cannot be opened or written, for example when
            `zr_dir/.zr` does not exist.
    """

# Tracking

def index_document(
    zr_dir: str, line_hash: str, file: str, sources: _StrList, source_type: str = "track"
) -> None:
    """Append a document-index line for a tracked line.

    Writes {"file", "line_hash", "revoked": false, "source_type", "sources"}
    to the shard `zr_dir/.zr/document-index/<first two characters of
    line_hash>`. Nothing is checked against earlier lines: every call adds
    one.

    Raises:
        RuntimeError: `line_hash` cannot name a shard (see `shard_path_str`),
            or the shard cannot be written (for example no `document-index`
            directory: run `init` first).
    """

def lookup_document(zr_dir: str, line_hash: str) -> list[_DocumentRecord]:
    """Return the document records whose line hash is exactly `line_hash`.

    Reads the shard of `line_hash` in `document-index`; every copy is
    returned, in file order, revoked ones included (the record carries no
    revocation mark). A missing shard or store gives an empty list.

    Raises:
        RuntimeError: `line_hash` cannot name a shard, or the shard exists but
            cannot be read.
    """

def read_all_documents(zr_dir: str) -> list[dict[str, Any]]:
    """Return every document-index line of the store, with all its members.

    Lines that do not hold a document record (string `line_hash` and `file`,
    list of str `sources`) are left out; `revoked` and `source_type` are
    kept. Shards come in the file system's listing order.

    Raises:
        RuntimeError: the `document-index` layer cannot be listed or read.
    """

def track(
    data: object,
    file: str,
    sources: _StrList,
    zr_dir: str,
    token_count: SupportsIndex | None = None,
    tokenizer: str | None = None,
) -> str:
    """Record a line of data and return its line hash.

    The line hash is `compute_hash(data)`. Appends a document-index line
    (source type "track") to its shard in `zr_dir/.zr/document-index`; when
    both `token_count` and `tokenizer` are given, also appends a token-index
    entry to this process's file `zr_dir/.zr/token-index.<tokenizer>.<pid>`
    (merged into the token index by `clean`). `data` is converted last, after
    every other argument was accepted. Tracking the same line twice records
    it twice.

    Raises:
        RuntimeError: the document index cannot be written (nothing is
            written), the tokenizer name contains "/" or NUL (nothing is
            written), or the token-index file cannot be written (the
            document-index line stays); `data` is not JSON.
        OverflowError: `token_count` is negative or above 2**64 - 1.
    """

def blame(zr_dir: str, file: str, line_content: str) -> list[_DocumentRecord]:
    """Return the document records of a line, found from its text.

    `line_content` is parsed as JSON (a text that is not one JSON value is
    taken as a JSON string), hashed like `compute_hash`, and looked up as by
    `lookup_document`. `file` does not narrow the result: records of every
    file are returned.

    Raises:
        RuntimeError: the shard exists but cannot be read.
    """

def blame_diff(old_lines: _StrList, new_lines: _StrList) -> list[tuple[_OpcodeTag, int, int, int, int]]:
    """Compute line-level diff opcodes for blame attribution.

    Returns (tag, i1, i2, j1, j2) tuples compatible with
    difflib.SequenceMatcher.get_opcodes().

    Tags are "equal", "delete", "insert" and "replace", and lines compare by
    exact text. An "equal" tuple pairs old_lines[i1 + t] with new_lines[j1 + t],
    which are equal, and the "equal" tuples pair as many lines as the lists
    have in common (a longest common subsequence). Every line lies in exactly
    one tuple's range of its list, and those non-empty ranges ascend through
    each list. The empty side of a "delete" (j1 == j2) or an "insert"
    (i1 == i2), however, need not sit where the tuple before it ended: unlike
    difflib's opcodes, the tuples need not tile both lists in order (["a", "b"]
    against ["b", "b"] gives ("delete", 0, 1, 1, 1), ("equal", 1, 2, 0, 1),
    ("insert", 1, 1, 1, 2)). Pair lines tuple by tuple, not by running
    positions. Reads and writes no file.
    """

# Registries

def author_add(name: str, email: str, zr_dir: str) -> str:
    """Register an author and return its id.

    The id is the SHA-256 hex of {"email":<email>,"name":<name>} in compact
    JSON, so the same pair always gets the same id. Appends {"id", "name",
    "email", "revoked": false} to `zr_dir/.zr/authors/<first two characters
    of id>`; adding a pair twice stores it twice. Note that `zr_dir` comes
    last.

    Raises:
        RuntimeError: "opening shard <path>" when the shard cannot be opened
            (for example no store), or the write failed.
    """

def author_query(zr_dir: str, name: str | None, email: str | None) -> list[str]:
    """Return the matching author records, each as compact JSON text.

    With both `name` and `email`, reads the one shard of that pair; with
    either or none (pass None), scans every file of `zr_dir/.zr/authors`.
    Matches are exact. Each text has the members id, name, email, revoked in
    that order (revoked false when the stored line lacks it). Duplicates are
    kept; a missing store gives an empty list.

    Raises:
        RuntimeError: the shard (both given) or the `authors` directory
            cannot be read.
    """

def register_section(
    path: str, authors: _StrList, contributors: _StrList, license: str, year: str, zr_dir: str
) -> str:
    """Register a section and return its section hash.

    The hash is the SHA-256 hex of {"authors","contributors","license",
    "path","year"} in compact JSON: the order of `authors` matters. Appends
    the section to `zr_dir/.zr/sections/<first two characters of the hash>`;
    `authors` should hold author ids (from `author_add`). Nothing is checked.
    Note that `zr_dir` comes last.

    Raises:
        RuntimeError: the shard cannot be opened or written (the operating
            system's message), for example without a store.
    """

# Attribution index

def build_index(zr_dir: str) -> _BuildIndexCounts:
    """Rebuild the attribution index from scratch.

    Replaces the `zr_dir/.zr/index` layer (one record per author id and per
    section hash, naming the shards that hold related records) and
    `zr_dir/.zr/index.bin`, and rebuilds every tokenizer's token binary
    index (`token-index.<tokenizer>.bin`; errors there are dropped). Reads
    `sections`, `document-index` and the merged token index. Sections and
    lines added later are not seen through the index until the next build.

    Returns:
        authors: distinct author ids named by sections; sections: distinct
        section hashes; total: their sum; token_index_entries: token-index
        lines read that carry sources.

    Raises:
        RuntimeError: a layer cannot be read, or `index.bin` cannot be
            written or fails its verification.
    """

def show_by_author(zr_dir: str, author_name: str) -> list[_DocumentRecord]:
    """Return the tracked lines attributed to the authors of that name.

    Author ids -> sections listing them -> document records whose sources
    name those sections. With `zr_dir/.zr/index.bin` present only the shards
    it names are read (so it answers as of the last `build_index`);
    otherwise `authors`, `sections` and `document-index` are scanned.
    Revoked authors, sections and lines are included. A name that no author
    carries gives an empty list.

    Raises:
        RuntimeError: the author registry, `index.bin` or a shard it names
            cannot be read; "binary index not found" when `index.bin`
            vanishes during the call.
    """

def show_by_license(zr_dir: str, license: str) -> list[_DocumentRecord]:
    """Return the tracked lines of the sections whose licence is `license`.

    The licence compares byte for byte ("MIT" does not match "mit"). Scans
    `sections` and `document-index`; revoked records are included.

    Raises:
        RuntimeError: a layer directory cannot be listed.
    """

def show_by_section(zr_dir: str, section_hash: str) -> list[_DocumentRecord]:
    """Return the tracked lines whose sources name `section_hash`.

    Scans `document-index`; revoked lines are included.

    Raises:
        RuntimeError: the layer directory cannot be listed.
    """

# Revocation and removal

def revoke_section(zr_dir: str, section_hash: str, reverse: bool = False) -> int:
    """Toggle the revoked mark of a section; return how many lines flipped.

    Every line of that hash in `zr_dir/.zr/sections/<first two characters>`
    gets the opposite mark (the shard is rewritten when one matched). A
    second call undoes the first: `reverse` only changes the log line's name
    ("revoke_section" or "revoke_reverse_section"). A missing shard returns
    0 without a log line. Purge and `clean` act on the marks.

    Raises:
        RuntimeError: `section_hash` cannot name a shard, or the shard or the
            log cannot be written.
    """

def revoke_manifest(zr_dir: str, line_hash: str, file: str, reverse: bool = False) -> int:
    """Toggle the revoked mark of one tracked line in one file.

    Flips the lines of `zr_dir/.zr/document-index/<first two characters of
    line_hash>` with that line hash and file, rewrites the shard (keys
    sorted, invalid lines dropped) and logs "revoke_manifest" or
    "revoke_reverse_manifest". A second call undoes the first; `reverse`
    only names the log line. Returns the number of lines flipped (0 without
    a log line when the shard is missing).

    Raises:
        RuntimeError: `line_hash` cannot name a shard, or the shard or the
            log cannot be written.
    """

def revoke_by_author(zr_dir: str, author_name: str, reverse: bool = False) -> int:
    """Toggle the revoked mark of every author record of that name.

    Rewrites the author shards in `zr_dir/.zr/authors` and logs
    "revoke_author" or "revoke_reverse_author". A second call undoes the
    first; `reverse` only names the log line. Returns the number of records
    flipped; 0 without a log line when no author has that name.

    Raises:
        RuntimeError: the registry, a shard or the log cannot be read or
            written.
    """

def revoke_by_author_token(zr_dir: str, author_name: str, tokenizer: str, reverse: bool = False) -> int:
    """Toggle the token-index entries of the sections of an author.

    Flips the `revoked` flag of every entry of `tokenizer` whose sources name
    a section listing one of the author's ids, in the chunk files of
    `zr_dir/.zr/token-index.<tokenizer>/`, then rebuilds that tokenizer's
    binary index if it has one, and logs "revoke_token" or
    "revoke_reverse_token". A second call undoes the first; `reverse` only
    names the log line. Returns the number of entries flipped; 0 without a
    log line when the author or their sections are unknown.

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or a file
            cannot be read or written.
    """

def purge_revoked(zr_dir: str, data_file: str, dry_run: bool) -> _PurgeCounts:
    """Remove revoked lines from a data file, archiving them.

    A line of `data_file` is removed when its content hash is listed in
    `zr_dir/.zr/document-index/revoked/all` or belongs to a tracked line
    whose sources name a revoked section. The file is rewritten through a
    temporary file in its directory and renamed over it (through a symbolic
    link, the file it names is replaced; other hard links keep the old
    text): blank lines are dropped, line ends become "\\n", lines that are
    not JSON stay. Removed lines go to `zr_dir/.zr/archive/purge.<YYYYMMDDT
    HHMMSS>` (two purges in one second share one archive) once the data
    file is replaced, never before; the log gets "purge_archive" and
    "purge". `purge_reverse` undoes the newest purge. Pending records that a
    killed earlier purge of the same file left, and whose lines are now
    archived or still in the file, are removed.

    A dry run reads and writes nothing else: it returns the number of
    non-empty lines of `revoked/all` as `purged`, and 0 for the others.

    Returns:
        purged: lines removed; kept: lines written back; archived: lines
        archived (equal to purged in a real run).

    Raises:
        RuntimeError: "data file not found: <path>" when the file is missing
            or empty (real runs only); "cannot read data file <path>: ...",
            "cannot create a temporary file in <dir> to purge <path>: ...",
            "cannot replace data file <path>: ..." (nothing is changed); the
            log cannot be opened (nothing is changed); a layer or file
            cannot be read or written.
    """

def purge_by_author_indexd(zr_dir: str, author_name: str, data_file: str, dry_run: bool) -> _PurgeCounts:
    """Remove a revoked author's lines from a data file, found through index.bin.

    The lines are those whose sources name a section of an author of that
    name, found through `zr_dir/.zr/index.bin` (as of the last
    `build_index`). The purge itself, its archive and its log lines are as
    for `purge_revoked`. A dry run returns the number of distinct line
    hashes found as `purged` and changes nothing.

    Returns:
        purged, kept, archived as for `purge_revoked`.

    Raises:
        RuntimeError: "author '<name>' is not revoked. Revoke first with
            `zr revoke --author '<name>'` before purging." when no author of
            that name is revoked; "binary index not found, run `zr index
            build` first" without `index.bin` (dry runs too); the errors of
            `purge_revoked`.
    """

def purge_reverse(zr_dir: str, data_file: str) -> int:
    """Restore the newest purge archive into a data file.

    Appends the lines of the newest `zr_dir/.zr/archive/purge.*` archive, in
    compact JSON, to the end of `data_file` (whichever file the purge came
    from), deletes that archive and logs "purge_reverse". Returns the number
    of lines restored. Without any purge archive it prints "No purge archive
    found" on the process's standard output (after flushing `sys.stdout`)
    and returns 0. A restore that was stopped part-way is finished by the
    next call: it appends only what is missing, so each line is restored
    once.

    Raises:
        RuntimeError: the archive cannot be read or deleted, or the data file
            or the log cannot be written; "Cannot finish the interrupted
            restore of <archive> into <data file>: ..." when a stopped
            restore is to be finished into another data file, or its data
            file changed meanwhile.
    """

def clean(zr_dir: str, split: bool) -> _CleanCounts:
    """Housekeeping of the store.

    In order: rotates `zr_dir/.zr/log` to `log.1` when it exceeds 10 MiB;
    logs "clean"; folds the per-process files `docidx.*` into the
    document-index shards and deletes them; merges every tokenizer's
    per-process files `token-index.<tokenizer>.<pid>` into numbered chunk
    files and rebuilds its token binary index; copies revoked and orphaned
    records into `zr_dir/.zr/archive/<layer>.<xx>` (they stay in place);
    empties `zr_dir/.zr/split` when `split` is true; removes temporary files
    left by interrupted writers, and the pending records of a killed purge
    unless they are the only copy of lines it removed. A missing store
    returns zeros.

    Returns:
        document_merged, pid_files_deleted, archived_records, log_rotated
        (0 or 1), token_index_merged, token_index_pid_deleted.

    Raises:
        RuntimeError: a file of the store cannot be read, written or deleted.
    """

def merge_absorb(source: str, target: str) -> _MergeCounts:
    """Copy into the store of `target` every record of `source` that it lacks.

    Both are project roots. Authors (by id), sections (by section hash),
    document-index lines (by line hash and file) and merged token-index
    entries (by sorted sources, tokenizer and token count) are appended to
    the target; the source is only read. When records were added (or an
    earlier merge into the target was stopped before its rebuild), the
    target's attribution index is rebuilt. Logs "merge" in the target.

    Returns:
        authors_added, sections_added, document_added, token_index_added,
        skipped (duplicates and records without a usable key).

    Raises:
        RuntimeError: "Source has no .zr/ directory: <source>"; a file of
            either store cannot be read or written (the target's layers must
            exist: run `init` on it first).
    """

# Token index

def token_index_write_pid(zr_dir: str, tokenizer: str, token_count: SupportsIndex, sources: _StrList) -> None:
    """Append a token-index entry to this process's own file.

    Writes {"token_count", "sources", "tokenizer", "revoked": false} to
    `zr_dir/.zr/token-index.<tokenizer>.<pid>`, creating `.zr` if needed.
    The entry counts only after `clean` or `token_index_merge_pid_files`
    merged it.

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or the file
            cannot be written.
        OverflowError: `token_count` is negative or above 2**64 - 1.
    """

def token_index_merge_pid_files(zr_dir: str, tokenizer: str) -> tuple[int, int]:
    """Move the per-process entries of a tokenizer into numbered chunk files.

    Each file `zr_dir/.zr/token-index.<tokenizer>.<digits>` with records
    becomes one new chunk file `token-index.<tokenizer>/<NNN>`, then is
    deleted. Returns (entries merged, per-process files handled).

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or a file
            cannot be read, written or deleted.
    """

def token_index_token_status(zr_dir: str, tokenizer: str) -> _TokenStatus:
    """Count the merged entries of a tokenizer and their tokens.

    Reads the chunk files of `zr_dir/.zr/token-index.<tokenizer>/`;
    entries still in per-process files are not counted.

    Returns:
        total_entries, active_entries, revoked_entries, total_tokens (all
        entries, revoked ones included).

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or a chunk file
            cannot be read.
    """

def token_index_list_tokenizers(zr_dir: str) -> list[str]:
    """Return the tokenizers the store knows, sorted, without duplicates.

    Found from the names `token-index.<tokenizer>...` in `zr_dir/.zr`
    (merged directories, per-process files, binary indexes).

    Raises:
        RuntimeError: the store directory cannot be listed.
    """

def token_index_revoke_by_sources(zr_dir: str, tokenizer: str, target_sources: _StrSet) -> int:
    """Toggle the entries that name any of the given sources.

    Flips `revoked` on every merged entry of `tokenizer` with a source in
    `target_sources` and rewrites the chunk files that changed (keys sorted,
    invalid lines dropped). A second call undoes the first. Returns the
    number of entries flipped. The token binary index is then out of date
    until rebuilt.

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or a chunk file
            cannot be read or written.
    """

def token_index_build_binary_index(zr_dir: str, tokenizer: str) -> str:
    """Build the memory-mapped token binary index of a tokenizer.

    Writes `zr_dir/.zr/token-index.<tokenizer>.bin` from the chunk files of
    `token-index.<tokenizer>/`. Returns "entries=<n>, sources=<k>".

    Raises:
        RuntimeError: "no merged token-index directory for tokenizer
            '<tokenizer>'"; "creating <path>"; a limit of the format is
            exceeded (no index is left then); the written file fails its
            verification; the tokenizer name contains "/" or NUL.
    """

def generate_forget_set(zr_dir: str, tokenizer: str) -> bytes:
    """Return the forget set of a tokenizer.

    One bit per merged entry, in entry order (bit i is bit i % 8 of byte
    i // 8, least significant first), set for revoked entries. Answered from
    the token binary index when it is current, otherwise from the chunk
    files; both give the same mask.

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or a chunk file
            cannot be read.
    """

def write_forget_set(path: str, bitmask: _BytesLike) -> None:
    """Write a forget set to a file: exactly its bytes, nothing else.

    `path` is any file path; an existing file is replaced as a whole: the
    mask is written to ".<name>.forget-set-XXXXXX" beside it, flushed and
    renamed over it, so that a failure leaves the old file and never a cut
    mask. A FIFO, a device or /dev/stdout is written directly.

    Raises:
        RuntimeError: the file cannot be created or written.
        TypeError: `bitmask` is a str, or holds something other than int.
        OverflowError: an element is outside 0..255.
    """

def show_by_author_token(zr_dir: str, author_name: str, tokenizer: str) -> _AuthorTokens:
    """Return an author's unrevoked token-index entries and their token total.

    The entries of `tokenizer` whose sources name a section listing one of
    the author's ids, revoked entries left out; answered from the token
    binary index when it is current (entries then in no set order),
    otherwise from the chunk files (in entry order).

    Returns:
        total_tokens, document_count (number of entries), entries.

    Raises:
        RuntimeError: the tokenizer name contains "/" or NUL, or the author
            registry, the sections or a chunk file cannot be read.
    """
