"""Builds the shared library with CMake from the checkout this directory
belongs to and ships it inside the package, beside the module."""

import os
import shutil
import subprocess
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from dedediruzurud import LIBRARY_FILE  # noqa: E402  (the module loads nothing on import)


class build_py_with_library(build_py):
    def run(self) -> None:
        super().run()
        if not os.path.isfile(os.path.join(SOURCE, "CMakeLists.txt")):
            sys.exit(f"{SOURCE} holds no CMakeLists.txt: install from a checkout of dedediruzurud")
        cmake = os.environ.get("CMAKE") or shutil.which("cmake")
        if not cmake:
            sys.exit("building dedediruzurud needs cmake (Debian: apt-get install cmake g++)")
        tree = os.path.join(os.path.abspath(self.get_finalized_command("build").build_temp), "cmake")
        subprocess.check_call([cmake, "-S", SOURCE, "-B", tree, "-DCMAKE_BUILD_TYPE=Release",
                               "-DDEDEDIRUZURUD_TESTS=OFF"])
        subprocess.check_call([cmake, "--build", tree, "--target", "dedediruzurud",
                               "--parallel", str(os.cpu_count() or 2)])
        target = os.path.join(self.build_lib, "dedediruzurud", LIBRARY_FILE)
        shutil.copyfile(os.path.join(tree, LIBRARY_FILE), target)  # follows the SONAME link
        os.chmod(target, 0o755)


class binary_distribution(Distribution):
    # The package carries a native library, so its wheel is platform-specific.
    def has_ext_modules(self) -> bool:
        return True


setup(
    packages=["dedediruzurud"],
    package_data={"dedediruzurud": ["py.typed"]},
    cmdclass={"build_py": build_py_with_library},
    distclass=binary_distribution,
)
