# SPDX-License-Identifier: MIT
"""Builds the extension quenbrel._quenbrel with the project's own CMake build.

The package is built from the source tree it sits in (python/ of the
project): CMake configures the project with only the Python module on, and
its one extension is copied where setuptools wants it. Nothing is
downloaded; CMake finds pybind11 and the interpreter's headers installed.
"""

import os
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
PROJECT = HERE.parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not (PROJECT / "CMakeLists.txt").is_file():
            sys.exit("quenbrel: build the package from the project's source tree (python/ in it)")
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(PROJECT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQUENBREL_PYTHON=ON",
            "-DPython_EXECUTABLE=" + sys.executable,
            "-DQUENBREL_BUILD_TESTS=OFF",
            "-DQUENBREL_INSTALL=OFF",
            "-DQUENBREL_WEB=OFF",
            "-DQUENBREL_WINDOWS=OFF",
        ]
        subprocess.run(configure, check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "quenbrel_python", "-j", jobs],
                       check=True)
        built = next((build / "python" / "quenbrel").glob("_quenbrel*"))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(ext_modules=[CMakeExtension("quenbrel._quenbrel")], cmdclass={"build_ext": CMakeBuild})
