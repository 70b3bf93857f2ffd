"""Hostile arguments are refused at the call, and a camera closed by one
thread while another uses it fails the same way every time."""
import math
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import zorbex
from conftest import SLOT


@pytest.mark.parametrize("timeout", [math.nan, math.inf, -math.inf, 0, -1.0, 10**400],
                         ids=["nan", "inf", "-inf", "0", "-1.0", "10**400"])
def test_time_outs_must_be_positive_and_finite(cam, timeout):
    with pytest.raises(ValueError, match="timeout"):
        cam.stream(timeout=timeout)
    assert not cam.streaming and not [c for c in zorbex.cameras() if c.in_use]
    cam.trigger_mode = True
    with pytest.raises(ValueError, match="timeout"):
        cam.wait_trigger(timeout=timeout)
    with pytest.raises(zorbex.FrameTimeoutError):
        cam.wait_trigger(timeout=0.2)  # no pulse came


@pytest.mark.parametrize("call", [lambda cam, p: cam.save(p), lambda cam, p: cam.record(p, 0.2)],
                         ids=["save", "record"])
def test_a_nul_in_a_file_name_is_refused(cam, tmp_path, call):
    cam.snap()
    with pytest.raises(ValueError, match="NUL"):
        call(cam, os.path.join(tmp_path, "cut.bmp\0.png"))
    assert os.listdir(tmp_path) == []
    assert not cam.streaming


SETTERS = {
    "gain": lambda cam: setattr(cam, "gain", 2),
    "mirror_h": lambda cam: setattr(cam, "mirror_h", True),
    "brightness": lambda cam: setattr(cam, "brightness", 3),
    "exposure_us": lambda cam: setattr(cam, "exposure_us", 5000),
    "color_mode": lambda cam: setattr(cam, "color_mode", "mono8"),
}


def test_setters_racing_close_raise_camera_closed(fresh):
    failures = {name: [] for name in SETTERS}
    for _ in range(5):
        cam = zorbex.Camera(SLOT)
        # A pause inside each call, after the camera was found open, so
        # that close() comes in the middle of calls.
        take_errors = cam._take_errors
        cam._take_errors = lambda: (time.sleep(0.001), take_errors())[1]
        started = threading.Barrier(len(SETTERS) + 1)

        def hammer(name):
            started.wait()
            while True:
                try:
                    SETTERS[name](cam)
                except Exception as error:  # every one is looked at below
                    failures[name].append(type(error))
                    return

        workers = [threading.Thread(target=hammer, args=(name,)) for name in SETTERS]
        for worker in workers:
            worker.start()
        started.wait()
        time.sleep(0.01)
        cam.close()
        for worker in workers:
            worker.join()
    assert failures == {name: [zorbex.CameraClosedError] * 5 for name in SETTERS}


@pytest.mark.parametrize("close", ["camera", "stream"])
def test_closing_from_another_thread_ends_the_loop(cam, close):
    stream = cam.stream(timeout=2)
    first = threading.Event()
    outcome = []

    def loop():
        try:
            for frame in stream:
                first.set()
            outcome.append("ended")
        except Exception as error:
            outcome.append(error)

    worker = threading.Thread(target=loop)
    worker.start()
    assert first.wait(10)
    (cam if close == "camera" else stream).close()
    worker.join()
    assert outcome == ["ended"]
    assert not [c for c in zorbex.cameras() if c.in_use]


def test_exit_while_another_thread_streams():
    # The session goes at interpreter exit while a daemon thread is inside
    # the loop; the stream is ended first, so nothing reads the released
    # session.
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(f"""
        import threading, zorbex
        zorbex.vcam.set_paced({SLOT}, False)
        cam = zorbex.Camera({SLOT})
        going = threading.Event()
        def loop():
            for frame in cam.stream():
                going.set()
        threading.Thread(target=loop, daemon=True).start()
        going.wait(10)
        print("streaming", flush=True)
    """)], env=os.environ, capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout) == (0, "streaming\n"), result.stderr
