"""The cluster a run works on: an existing scheduler, or a local cluster started for the run.

A local cluster keeps all its workers' scratch space in one directory of its
own, removed when the cluster shuts down, so that an interrupted run leaves
no partial stores behind. Its workers ignore SIGINT: a Ctrl-C on a terminal
reaches every process of the foreground group, and only the client should
act on it, by shutting the cluster down in order.
"""
from __future__ import annotations

import os
import shutil
import signal
import socket
import tempfile
import threading
from contextlib import contextmanager
from typing import Callable, Iterator

import dask
from distributed import Client, LocalCluster
from distributed.comm import parse_address
from distributed.comm.addressing import parse_host_port
from distributed.comm.registry import get_backend

# Long enough for a scheduler across a slow network, short enough that a
# wrong address is reported before the user gives up waiting.
CONNECT_TIMEOUT_SECONDS = 5.0

# Schemes whose location is a host and a port reachable over TCP.
_TCP_SCHEMES = ("tcp", "tls", "ws", "wss")


def configured_scheduler() -> str | None:
    """The scheduler address of Dask's configuration (DASK_SCHEDULER_ADDRESS sets it), if any."""
    address = dask.config.get("scheduler-address", None)
    return str(address) if address else None


def check_scheduler_address(address: str, timeout: float = CONNECT_TIMEOUT_SECONDS) -> None:
    """Raises ValueError when `address` is no scheduler address, or when
    nothing accepts a connection there within `timeout` seconds."""
    try:
        scheme, location = parse_address(address)
        get_backend(scheme)
        host, port = parse_host_port(location) if scheme in _TCP_SCHEMES else (None, None)
    except (ValueError, TypeError) as error:
        raise ValueError(f"malformed scheduler address {address!r}: {error}") from None
    if host is None or port is None:
        return  # no socket to probe: the client's own connection will tell
    if not host:
        raise ValueError(f"malformed scheduler address {address!r}: no host")
    try:
        with socket.create_connection((host, port), timeout=timeout):
            pass
    except OSError as error:
        reason = error.strerror or str(error) or type(error).__name__
        raise ValueError(f"cannot reach the scheduler at {address}: {reason}") from None


@contextmanager
def _sigint_ignored() -> Iterator[None]:
    """SIGINT ignored meanwhile, so that processes started now inherit that
    (an ignored signal stays ignored across exec, and Python keeps it so)."""
    if threading.current_thread() is not threading.main_thread():
        yield  # only the main thread may change signal handlers
        return
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


def _announce_dashboard(client: Client, announce: Callable[[str], None] | None) -> None:
    if announce is None:
        return
    try:
        link = client.dashboard_link
    except (KeyError, AttributeError, OSError):
        link = None  # the scheduler serves no dashboard (it needs bokeh)
    if link:
        announce(f"dashboard: {link}")


@contextmanager
def connect(scheduler: str | None, workers: int, local_directory: str | None,
            announce: Callable[[str], None] | None = None) -> Iterator[Client]:
    """A client of the cluster at `scheduler` (else at Dask's configured
    scheduler address), or of a new local cluster of `workers`
    single-threaded worker processes whose scratch space lies under
    `local_directory` (else the system's temporary directory), closed on
    exit. `announce` receives one line giving the dashboard's address, when
    the cluster serves one."""
    address = scheduler if scheduler is not None else configured_scheduler()
    if address is not None:
        with Client(address) as client:
            _announce_dashboard(client, announce)
            yield client
        return
    if local_directory is not None:
        os.makedirs(local_directory, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="zr-cluster-", dir=local_directory)
    try:
        # Records travel between processes of this machine only: compressing
        # them would cost both ends CPU for no bytes saved on any network.
        with dask.config.set({"distributed.comm.compression": None}):
            with _sigint_ignored():
                # The dashboard shows the run's tasks: this machine only.
                cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                       dashboard_address="127.0.0.1:0", local_directory=scratch)
            with cluster, Client(cluster) as client:
                _announce_dashboard(client, announce)
                yield client
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
