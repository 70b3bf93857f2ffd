"""Test set-up: the library under test, a private settings folder, a fresh
virtual camera and session per test."""
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE_ROOT = os.path.dirname(HERE)
sys.path.insert(0, PACKAGE_ROOT)

# The tests' camera sits in a slot of its own, away from slot 0 that other
# programs use by default.
SLOT = 7
# Set before the library is loaded: the virtual camera reads the slots at
# its first use, the settings store its folder at every access.
os.environ["ZBX_VCAM_SLOTS"] = str(SLOT)
SETTINGS_DIR = tempfile.mkdtemp(prefix="zbx-pytest-settings-")
os.environ["XDG_CONFIG_HOME"] = SETTINGS_DIR
# A private runtime folder (mode 0700) gives the tests a camera table of
# their own: a program of this user streaming at the same time cannot mark
# the tests' camera in use.
RUNTIME_DIR = tempfile.mkdtemp(prefix="zbx-pytest-runtime-")
os.environ["XDG_RUNTIME_DIR"] = RUNTIME_DIR
if "ZORBEX_LIBRARY" not in os.environ:
    built = os.path.join(HERE, "..", "..", "build", "libZorbexSdk_530RD_NQT.so")
    if os.path.exists(built):
        os.environ["ZORBEX_LIBRARY"] = os.path.abspath(built)

# Child processes of the tests import this package too.
os.environ["PYTHONPATH"] = os.pathsep.join(
    p for p in (PACKAGE_ROOT, os.environ.get("PYTHONPATH")) if p)

import pytest  # noqa: E402

import zorbex  # noqa: E402


def pytest_sessionfinish(session, exitstatus):
    shutil.rmtree(SETTINGS_DIR, ignore_errors=True)
    shutil.rmtree(RUNTIME_DIR, ignore_errors=True)


def _fresh():
    for entry in os.listdir(SETTINGS_DIR):
        shutil.rmtree(os.path.join(SETTINGS_DIR, entry), ignore_errors=True)
    zorbex.vcam.reset()
    zorbex.vcam.set_scene(SLOT, "chart", moving=False)


@pytest.fixture
def fresh():
    """Default virtual cameras with a still chart, and no saved settings."""
    _fresh()
    yield
    zorbex.vcam.reset()


@pytest.fixture
def cam(fresh):
    with zorbex.Camera(SLOT) as camera:
        yield camera


@pytest.fixture(scope="module")
def shared_cam():
    """One session for a module's tests that only change settings."""
    _fresh()
    with zorbex.Camera(SLOT) as camera:
        yield camera
    zorbex.vcam.reset()
