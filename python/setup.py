"""Builds the extension module with the project's own CMake build (target annoxml_python).

The build directory is $ANNOXML_BUILD_DIR when set (an existing build of the project, so that
only the module is compiled there; a relative path is taken from the project's folder, because pip
runs this file from python/), otherwise a fresh one below setuptools' build_temp. Set
CMAKE_CXX_COMPILER_LAUNCHER=ccache to reuse earlier compilations.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

PACKAGE_DIR = Path(__file__).resolve().parent
PROJECT_DIR = PACKAGE_DIR.parent


class CMakeExtension(Extension):
    def __init__(self) -> None:
        super().__init__("annoxml._annoxml", sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        if not (PROJECT_DIR / "CMakeLists.txt").is_file():
            raise RuntimeError(f"the annoxml project is not at {PROJECT_DIR}: build in-tree")
        given = os.environ.get("ANNOXML_BUILD_DIR")
        build_dir = PROJECT_DIR / given if given else Path(self.build_temp) / "cmake"
        build_dir = build_dir.resolve()
        configure = ["cmake", "-S", str(PROJECT_DIR), "-B", str(build_dir),
                     "-DANNOXML_BUILD_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}"]
        if not given:
            configure += ["-DCMAKE_BUILD_TYPE=Release", "-DANNOXML_BUILD_CLI=OFF",
                          "-DANNOXML_BUILD_TESTS=OFF", "-DANNOXML_BUILD_NATIVE_PACKAGE=OFF"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "annoxml_python",
                        "-j", jobs], check=True)
        module = Path(self.get_ext_fullpath(ext.name))
        module.parent.mkdir(parents=True, exist_ok=True)
        built = next((build_dir / "python").glob("_annoxml*.so"))
        shutil.copyfile(built, module)
        # The module finds the library beside itself (RPATH $ORIGIN), by its soname.
        library = next(build_dir.glob("libannoxml.so.*.*"))
        soname = next(build_dir.glob("libannoxml.so.[0-9]"), None)
        shutil.copyfile(library, module.parent / (soname.name if soname else library.name))


setup(ext_modules=[CMakeExtension()], cmdclass={"build_ext": CMakeBuild})
