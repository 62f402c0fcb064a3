"""Dask's own log, limited to errors for the command line.

A failing task is logged by its worker at each attempt, with its arguments,
and the command reports the final error itself, on one line; the rest of
Dask's log (workers starting, stopping, restarting) is news about the
cluster, not about the run. Someone who wants it sets
DASK_LOGGING__DISTRIBUTED (to "warning" or "info"), which is then left alone.
"""
from __future__ import annotations

import logging
import os

_VARIABLE = "DASK_LOGGING__DISTRIBUTED"


def quiet_cluster_logs() -> None:
    """Limits the log of this process and of the worker processes it starts to errors."""
    if _VARIABLE in os.environ:
        return
    # Worker processes read it when they start; this one has read its
    # configuration already.
    os.environ[_VARIABLE] = "error"
    logging.getLogger("distributed").setLevel(logging.ERROR)
