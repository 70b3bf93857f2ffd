"""Failures come back as exceptions with the library's code, name and
sentence; sessions are released on close and on garbage collection."""
import gc
import os
import subprocess
import sys
import textwrap

import pytest

import zorbex
from conftest import SLOT
from zorbex import _library



def test_absent_camera_is_unavailable(fresh):
    with pytest.raises(zorbex.DeviceUnavailableError) as caught:
        zorbex.Camera(5)
    error = caught.value
    assert (error.code, error.name) == (2, "ERR_DEVICE_UNAVAILABLE")
    assert error.sentence == _library.lib().ZbxError_Describe(2).decode()
    assert error.sentence in str(error)


def test_cameras_lists_the_attached_ones(fresh):
    zorbex.vcam.set_slots([SLOT, 3])
    assert [(c.slot, c.name, c.in_use) for c in zorbex.cameras()] == [
        (3, "Zorbex530RD-NQT_04", False), (SLOT, f"Zorbex530RD-NQT_{SLOT + 1:02d}", False)]
    with zorbex.Camera(3) as cam:
        assert cam.name == "Zorbex530RD-NQT_04" and cam.snap().size


def test_wrong_mode_and_unplugged_camera(cam):
    with cam.stream():
        with pytest.raises(zorbex.ZorbexError) as caught:
            cam.snap()
        assert caught.value.code == zorbex.errors.ERR_NOT_READY
        with pytest.raises(zorbex.ZorbexError, match="stop the stream"):
            cam.color_mode = "mono8"
    zorbex.vcam.unplug(SLOT)
    with pytest.raises(zorbex.ZorbexError) as caught:
        cam.snap()
    assert caught.value.code in (zorbex.errors.ERR_DEVICE_UNAVAILABLE, zorbex.errors.ERR_TRANSFER)


def test_closed_camera_and_release_on_collection(fresh):
    cam = zorbex.Camera(SLOT)
    cam.close()
    cam.close()
    with pytest.raises(zorbex.CameraClosedError, match="closed"):
        cam.snap()
    with pytest.raises(zorbex.CameraClosedError):
        cam.gain = 1
    # A streaming camera dropped without close: its session ends and the
    # camera is free again.
    dropped = zorbex.Camera(SLOT)
    stream = dropped.stream()
    assert [c.in_use for c in zorbex.cameras()] == [True]
    del dropped, stream
    gc.collect()
    assert [c.in_use for c in zorbex.cameras()] == [False]


def run_python(code, **env):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          env={**os.environ, **env}, capture_output=True, text=True, timeout=60)


def test_camera_streaming_in_another_process_is_unavailable(fresh):
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent("""
            import sys, zorbex
            with zorbex.Camera(int(sys.argv[1])) as cam, cam.stream():
                print("streaming", flush=True)
                sys.stdin.read()
        """), str(SLOT)], env=os.environ, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "streaming"
        assert [c.in_use for c in zorbex.cameras()] == [True]
        with pytest.raises(zorbex.DeviceUnavailableError):
            zorbex.Camera(SLOT)
    finally:
        child.stdin.close()
        assert child.wait(timeout=30) == 0


def test_missing_library_is_a_clear_error():
    result = run_python("""
        import zorbex
        try:
            zorbex.cameras()
        except zorbex.LibraryNotFoundError as error:
            print("missing:", error)
    """, ZORBEX_LIBRARY="/nonexistent/libZorbexSdk_530RD_NQT.so")
    assert result.returncode == 0, result.stderr
    assert "missing:" in result.stdout and "/nonexistent/" in result.stdout
    assert "ZORBEX_LIBRARY" in result.stdout
