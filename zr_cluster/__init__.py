"""Tracking a corpus of JSON Lines files on a Dask cluster.

One entry point, `track_corpus`: every file (or every range of a large
file) is tracked into a fresh store of its own on a worker and its records
cut by shard range; each shard range is merged over every part by a task of
its own, and the client appends each merged range to a target store, which
is then cleaned and indexed. The command-line form is
`zr-cluster --help` (or `python3 -m zr_cluster --help`).
"""
# The one place the version is written: the package build reads it from here.
__version__ = "0.1.0"

from .pipeline import CorpusResult, Timings, track_corpus
from .tasks import FileReport

__all__ = ["CorpusResult", "FileReport", "Timings", "track_corpus"]
