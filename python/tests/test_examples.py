"""The examples run headless and produce their files."""
import os
import subprocess
import sys

import pytest

from conftest import SLOT

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")


@pytest.mark.parametrize("script, args, produced", [
    ("live_view.py", ["--headless", "--seconds", "0.5", "--every", "5", "--out", "live"],
     "live/frame00001.png"),
    ("histogram.py", ["--mode", "bgr48", "--out", "h.png"], "h.png"),
    ("capture_series.py", ["--count", "3", "--interval", "0.1", "--format", "bmp"],
     "series/frame0002.bmp"),
])
def test_example_runs_headless(tmp_path, script, args, produced):
    pytest.importorskip("cv2" if script == "live_view.py" else "matplotlib")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    args = [*args, "--slot", str(SLOT)]
    result = subprocess.run([sys.executable, os.path.join(EXAMPLES, script), *args], cwd=tmp_path,
                            env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert (tmp_path / produced).stat().st_size > 0
