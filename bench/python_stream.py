#!/usr/bin/env python3
"""Frame rate of zorbex.Camera.stream() against the C library's, in one run.

Both stream 24-bit colour frames from the unpaced virtual camera (a frame as
soon as it is read) with no pause in the library's loop:

- C: bench_session_streaming's BM_Color24Neutral, the library's own loop
  copying each frame into the caller's buffer and posting its message
  (its own minimum time of 2 s per run);
- Python: ``for frame in cam.stream()``, each frame copied once into a new
  numpy array the caller owns.

Rounds alternate between the two so that load on the machine hits both
alike; the medians and their ratio are printed (goal: Python >= 90% of C).

    /usr/bin/python3 bench/python_stream.py [--build build] [--seconds 2] [--rounds 3]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def c_rate(build: str) -> float:
    program = os.path.join(build, "bench", "bench_session_streaming")
    if not os.path.exists(program):
        sys.exit(f"{program} is missing: build with -DZBX_BUILD_BENCH=ON "
                 "(target bench_session_streaming)")
    out = subprocess.run([program, "--benchmark_filter=^BM_Color24Neutral/",
                          "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["benchmarks"][0]["items_per_second"]


def python_rate(seconds: float) -> float:
    import zorbex
    zorbex.vcam.reset()
    zorbex.vcam.set_paced(0, False)
    with zorbex.Camera(0) as cam:
        cam.color_mode = "bgr24"
        cam.wait_time_ms = 0
        cam.exposure_lines = 637
        with cam.stream() as stream:
            next(stream)  # the start is not part of the rate
            start = time.perf_counter()
            first = stream.frames
            for _ in stream:
                if time.perf_counter() - start >= seconds:
                    break
            elapsed = time.perf_counter() - start
            return (stream.frames - first) / elapsed


def cpu_features() -> str:
    try:
        with open("/proc/cpuinfo") as info:
            flags = next(line for line in info if line.startswith("flags")).split()
    except (OSError, StopIteration):
        return "unknown"
    wanted = ["avx2", "avx512f", "avx512bw", "avx512vl", "avx512_vbmi", "avx512vbmi"]
    return " ".join(f for f in wanted if f in flags) or "no AVX2/AVX-512"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=float, default=2.0, help="Python run length")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    # Settings of this run only, never the user's; one camera in slot 0.
    settings = tempfile.mkdtemp(prefix="zbx-bench-python-")
    os.environ["XDG_CONFIG_HOME"] = settings
    os.environ["ZBX_VCAM_SLOTS"] = "0"
    os.environ.setdefault("ZORBEX_LIBRARY", os.path.join(args.build, "libZorbexSdk_530RD_NQT.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))

    c_rates, py_rates = [], []
    for round_ in range(args.rounds):
        c_rates.append(c_rate(args.build))
        py_rates.append(python_rate(args.seconds))
        print(f"round {round_ + 1}: C {c_rates[-1]:7.1f} fps   Python {py_rates[-1]:7.1f} fps")
    c, py = statistics.median(c_rates), statistics.median(py_rates)
    print(f"median: C {c:.1f} fps, Python {py:.1f} fps, ratio {py / c:.1%} (goal >= 90%)")
    print(f"processor: {cpu_features()}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
