"""The package's version, as `zr-cluster --version` shows it."""
from __future__ import annotations

from importlib import metadata
from pathlib import Path

from . import __version__

DISTRIBUTION = "zr-native"


def package_version() -> str:
    """The installed distribution's version when this is the code it
    installed, else the source tree's `__version__` (the one the
    distribution's version is read from when it is built)."""
    try:
        distribution = metadata.distribution(DISTRIBUTION)
    except metadata.PackageNotFoundError:
        return __version__
    installed = Path(str(distribution.locate_file("zr_cluster/__init__.py")))
    if installed.resolve() == Path(__file__).with_name("__init__.py").resolve():
        return distribution.version
    return __version__
