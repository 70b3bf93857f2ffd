"""cmake --install puts the package where the interpreter looks and the
package finds the library installed with it."""
import glob
import os
import subprocess
import sys

import pytest


def test_installed_package_finds_installed_library(tmp_path):
    build = os.environ.get("ZBX_BUILD_DIR")
    if not build:
        pytest.skip("ZBX_BUILD_DIR names no build to install")
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", build, "--prefix", str(prefix)], check=True,
                   capture_output=True, timeout=120)
    packages = glob.glob(str(prefix / "lib" / "python3*" / "dist-packages" / "zorbex"))
    assert len(packages) == 1
    env = {k: v for k, v in os.environ.items() if k not in ("ZORBEX_LIBRARY", "LD_LIBRARY_PATH")}
    env["PYTHONPATH"] = os.path.dirname(packages[0])
    result = subprocess.run(
        [sys.executable, "-c", "import zorbex; print(zorbex.__file__); print(zorbex.library_path());"
                               "print(zorbex.version())"],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    package_file, library, version = result.stdout.split()
    assert package_file.startswith(str(prefix)) and library.startswith(str(prefix))
    assert int(version) > 0
