#!/usr/bin/env python3
"""Frame rate of zorbex.Camera.stream() against the C library's, in one run.

All stream 24-bit colour frames from the unpaced virtual camera (a frame as
soon as it is read) with no pause in the library's loop, and all make one
copy of each developed frame on the library's thread:

- counting C: bench_session_streaming's BM_Color24Neutral, the library's
  own loop copying each frame into the caller's one buffer and posting its
  message; the loop only counts the messages, even for frames its buffer no
  longer holds;
- hand-over C: BM_Color24HandOver, a C loop that keeps every frame intact
  the way cam.stream() does: per frame message it hands the library its
  other buffer; frames it lost are not counted;
- Python: ``for frame in cam.stream()``: the library copies each frame into
  a numpy array of the stream's own, and every frame handed out is an
  array that the library never writes again.  Frames announced while the
  loop was busy are dropped (the library's rate during the Python run is
  shown too).

The goal is Python >= 90% of hand-over C, the C program that gives the same
service (frames stay valid after the next one arrives).  Rounds alternate
between the three (each taking each place in turn) so that load on the
machine hits all alike; printed are the medians, both ratios and the median
of each round's own ratio.

    /usr/bin/python3 bench/python_stream.py [--build build] [--seconds 2] [--rounds 5]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# A slot of its own: the library has no switch for a private camera table,
# and another process of this user streaming from slot 0 (or the Python
# tests, from slot 7) would mark that camera in use.
SLOT = 6
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def c_rate(build: str, benchmark: str) -> "tuple[float, float]":
    """(frames per second, process CPU milliseconds per frame) of one C loop"""
    program = os.path.join(build, "bench", "bench_session_streaming")
    if not os.path.exists(program):
        sys.exit(f"{program} is missing: build with -DZBX_BUILD_BENCH=ON "
                 "(target bench_session_streaming)")
    # The C program keeps a private camera table of its own, on slot 0.
    env = {**os.environ, "ZBX_VCAM_SLOTS": "0"}
    out = subprocess.run([program, f"--benchmark_filter=^{benchmark}/",
                          "--benchmark_format=json"],
                         check=True, capture_output=True, text=True, env=env).stdout
    result = json.loads(out)["benchmarks"][0]
    if "items_per_second" not in result:
        sys.exit(f"{program}: {result.get('error_message', 'no frame rate')}")
    rate = result["items_per_second"]
    return rate, result.get("cores", 0.0) / rate * 1000


def python_rate(seconds: float) -> "tuple[float, float, float]":
    """(frames handed out per second, process CPU milliseconds per frame,
    frames the library announced per second)"""
    import zorbex
    zorbex.vcam.reset()
    zorbex.vcam.set_paced(SLOT, False)
    with zorbex.Camera(SLOT) as cam:
        cam.color_mode = "bgr24"
        cam.wait_time_ms = 0
        cam.exposure_lines = 637
        with cam.stream() as stream:
            next(stream)  # the start is not part of the rate
            start = time.perf_counter()
            cpu = time.process_time()
            first = stream.frames
            first_dropped = stream.dropped
            for _ in stream:
                if time.perf_counter() - start >= seconds:
                    break
            elapsed = time.perf_counter() - start
            frames = stream.frames - first
            announced = frames + stream.dropped - first_dropped
            return (frames / elapsed, (time.process_time() - cpu) / frames * 1000,
                    announced / elapsed)


def cpu_features() -> str:
    try:
        with open("/proc/cpuinfo") as info:
            flags = next(line for line in info if line.startswith("flags")).split()
    except (OSError, StopIteration):
        return "unknown"
    wanted = ["avx2", "avx512f", "avx512bw", "avx512dq", "avx512vl", "avx512_vbmi", "avx512vbmi"]
    return " ".join(f for f in wanted if f in flags) or "no AVX2/AVX-512"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=float, default=2.0, help="Python run length")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    # Settings of this run only, never the user's; one camera, in SLOT.
    settings = tempfile.mkdtemp(prefix="zbx-bench-python-")
    os.environ["XDG_CONFIG_HOME"] = settings
    os.environ["ZBX_VCAM_SLOTS"] = str(SLOT)
    os.environ.setdefault("ZORBEX_LIBRARY", os.path.join(args.build, "libZorbexSdk_530RD_NQT.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))

    counting, hand_over, py_runs = [], [], []
    try:
        runs = [lambda: counting.append(c_rate(args.build, "BM_Color24Neutral")),
                lambda: hand_over.append(c_rate(args.build, "BM_Color24HandOver")),
                lambda: py_runs.append(python_rate(args.seconds))]
        for round_ in range(args.rounds):
            # Each loop takes each place in the order in turn, so that load
            # that drifts within a round favours none of them.
            for i in range(len(runs)):
                runs[(round_ + i) % len(runs)]()
            print(f"round {round_ + 1}: counting C {counting[-1][0]:7.1f} fps ({counting[-1][1]:.2f} ms CPU/frame)"
                  f"   hand-over C {hand_over[-1][0]:7.1f} fps ({hand_over[-1][1]:.2f} ms)"
                  f"   Python {py_runs[-1][0]:7.1f} fps ({py_runs[-1][1]:.2f} ms)", flush=True)
    finally:
        shutil.rmtree(settings, ignore_errors=True)
    count_c = statistics.median(r[0] for r in counting)
    hand_c = statistics.median(r[0] for r in hand_over)
    py = statistics.median(r[0] for r in py_runs)
    announced = statistics.median(r[2] for r in py_runs)
    print(f"median: counting C {count_c:.1f} fps, hand-over C {hand_c:.1f} fps, Python {py:.1f} fps")
    print(f"Python / hand-over C: {py / hand_c:.1%} (goal >= 90%),"
          f" rounds' own ratios' median {statistics.median(p[0] / h[0] for h, p in zip(hand_over, py_runs)):.1%}")
    print(f"Python / counting C:  {py / count_c:.1%},"
          f" rounds' own ratios' median {statistics.median(p[0] / c[0] for c, p in zip(counting, py_runs)):.1%}")
    print(f"hand-over C / counting C: {hand_c / count_c:.1%}")
    print(f"library's rate during the Python runs: {announced:.1f} fps ({announced / hand_c:.1%} of hand-over C)")
    print("CPU per frame (whole process, ms): counting C "
          f"{statistics.median(r[1] for r in counting):.2f}, hand-over C "
          f"{statistics.median(r[1] for r in hand_over):.2f}, Python "
          f"{statistics.median(r[1] for r in py_runs):.2f}")
    print(f"load average at the end: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    print(f"processor: {cpu_features()}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
