"""Builds the _zr_native extension, and its companion _zr_bulk (bulk
tracking), through the project's CMake build.

Only the modules are configured and built (no unit tests, no benchmarks), for
the interpreter that runs this build, so a virtual environment's Python gets
modules of its own ABI. The type stubs travel as the companion packages
`_zr_native-stubs` and `_zr_bulk-stubs`, where type checkers look for the
stubs of a compiled module. The pure-Python package `zr_cluster` (tracking on a Dask cluster)
is installed beside the module, with its marker `py.typed` so that type
checkers read its annotations, and its command `zr-cluster`.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
MODULES = ["_zr_native", "_zr_bulk"]
STUBS = [f"{module}-stubs" for module in MODULES]


class CMakeModule(Extension):
    def __init__(self, name: str) -> None:
        super().__init__(name, sources=[])


class BuildWithCMake(build_ext):
    def build_extension(self, ext: Extension) -> None:
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DZR_BUILD_TESTS=OFF",
            "-DZR_BUILD_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        # A generator can only be chosen when the build directory is new.
        if shutil.which("ninja") and not (build_dir / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = self.parallel if isinstance(self.parallel, int) and self.parallel > 0 else os.cpu_count() or 1
        subprocess.run(["cmake", "--build", str(build_dir), "--target", ext.name, "--parallel", str(jobs)],
                       check=True)

        built = build_dir / "python" / self.get_ext_filename(ext.name)
        if not built.is_file():
            raise RuntimeError(f"CMake did not produce {built}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    ext_modules=[CMakeModule(module) for module in MODULES],
    cmdclass={"build_ext": BuildWithCMake},
    packages=STUBS + ["zr_cluster"],
    package_dir={stubs: f"stubs/{stubs}" for stubs in STUBS},
    package_data={**{stubs: ["__init__.pyi"] for stubs in STUBS}, "zr_cluster": ["py.typed"]},
    # Keep setuptools' work files apart from the CMake tree in ./build.
    options={"build": {"build_base": "build-package"}},
    zip_safe=False,
)
