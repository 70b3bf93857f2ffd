#!/usr/bin/env python3
"""zorbex.Camera.stream() against a C loop on the same frame queue, in one run.

Both take 24-bit colour frames of a moving chart from the virtual camera
through the library's frame queue (zorbex/stream.h), every frame in order:

- keep every frame, paced (the camera's own rate, about 45 per second):
  300 frames all kept until the end.  C: bench_stream_queue's BM_KeepEvery
  (300 queue buffers); Python: ``kept = list(cam.stream(count=300))`` (the
  stream lends the queue a fresh numpy block whenever few are left).
  Frames dropped (goal 0 for both) and process CPU per frame (goal: Python
  at most 1.2 x C);
- loop variable only, unpaced (a frame as soon as one is taken): C:
  BM_UnpacedLoop (take, give back at once, four buffers); Python:
  ``for frame in cam.stream(strategy="all")``.  Frames per second (goal:
  Python at least 0.95 x C) and CPU per frame.

Rounds alternate the order of C and Python so that load on the machine
hits both alike; printed are each round and the medians.

    /usr/bin/python3 bench/python_stream.py [--build build-bench] [--seconds 2] [--rounds 3]

The library and bench_stream_queue come from a build with
-DZBX_BUILD_BENCH=ON (target bench_stream_queue).
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

# A slot of its own for the Python runs, with a private runtime folder: no
# other program of this user can mark the camera in use meanwhile.
SLOT = 6
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
KEEP = 300


def c_runs(build: str, seconds: float) -> "dict[str, dict[str, float]]":
    """Counters of BM_KeepEvery and BM_UnpacedLoop, by name."""
    program = os.path.join(build, "bench", "bench_stream_queue")
    if not os.path.exists(program):
        sys.exit(f"{program} is missing: build with -DZBX_BUILD_BENCH=ON "
                 "(target bench_stream_queue)")
    out = subprocess.run([program, "--benchmark_filter=^(BM_KeepEvery|BM_UnpacedLoop)",
                          f"--benchmark_min_time={seconds}", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    found = {}
    for result in json.loads(out)["benchmarks"]:
        if "error_message" in result:
            sys.exit(f"{program}: {result['error_message']}")
        found[result["name"].split("/")[0]] = result
    return found


def python_keep() -> "tuple[int, float]":
    """(frames dropped, process CPU microseconds per frame) keeping 300 frames."""
    import zorbex
    zorbex.vcam.reset()
    zorbex.vcam.set_scene(SLOT, "chart", moving=True)
    with zorbex.Camera(SLOT) as cam:
        cam.color_mode = "bgr24"
        cam.wait_time_ms = 0
        cpu = time.process_time()
        stream = cam.stream(count=KEEP)
        kept = list(stream)
        cpu = time.process_time() - cpu
        assert len(kept) == KEEP
        return stream.dropped, cpu / KEEP * 1e6


def python_unpaced(seconds: float) -> "tuple[float, float]":
    """(frames per second, process CPU microseconds per frame), loop variable only."""
    import zorbex
    zorbex.vcam.reset()
    zorbex.vcam.set_scene(SLOT, "chart", moving=True)
    zorbex.vcam.set_paced(SLOT, False)
    with zorbex.Camera(SLOT) as cam:
        cam.color_mode = "bgr24"
        cam.wait_time_ms = 0
        with cam.stream(strategy="all") as stream:
            next(stream)  # the start is not part of the rate
            first = stream.frames
            cpu = time.process_time()
            start = time.perf_counter()
            for frame in stream:
                if time.perf_counter() - start >= seconds:
                    break
            elapsed = time.perf_counter() - start
            cpu = time.process_time() - cpu
            frames = stream.frames - first
    return frames / elapsed, cpu / frames * 1e6


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--seconds", type=float, default=2.0, help="unpaced run length")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    settings = tempfile.mkdtemp(prefix="zbx-bench-python-")
    runtime = tempfile.mkdtemp(prefix="zbx-bench-runtime-")
    os.environ["XDG_CONFIG_HOME"] = settings
    os.environ["XDG_RUNTIME_DIR"] = runtime
    os.environ["ZBX_VCAM_SLOTS"] = str(SLOT)
    os.environ.setdefault("ZORBEX_LIBRARY", os.path.join(args.build, "libZorbexSdk_530RD_NQT.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))

    c_keep, c_loop, py_keep, py_loop = [], [], [], []
    try:
        def run_c() -> None:
            found = c_runs(args.build, args.seconds)
            keep, loop = found["BM_KeepEvery"], found["BM_UnpacedLoop"]
            c_keep.append((keep["dropped"], keep["process_cpu_us"]))
            c_loop.append((loop["fps"], loop["process_cpu_us"]))

        def run_python() -> None:
            py_keep.append(python_keep())
            py_loop.append(python_unpaced(args.seconds))

        for round_ in range(args.rounds):
            for run in ((run_c, run_python) if round_ % 2 == 0 else (run_python, run_c)):
                run()
            print(f"round {round_ + 1}: keep {KEEP} paced: C dropped {c_keep[-1][0]:.0f}, "
                  f"{c_keep[-1][1]:.0f} us CPU/frame; Python dropped {py_keep[-1][0]}, "
                  f"{py_keep[-1][1]:.0f} us | unpaced: C {c_loop[-1][0]:.1f} fps "
                  f"({c_loop[-1][1]:.0f} us); Python {py_loop[-1][0]:.1f} fps "
                  f"({py_loop[-1][1]:.0f} us)", flush=True)
    finally:
        shutil.rmtree(settings, ignore_errors=True)
        shutil.rmtree(runtime, ignore_errors=True)

    def median(runs: "list[tuple[float, float]]", i: int) -> float:
        return statistics.median(r[i] for r in runs)

    print(f"keep {KEEP} paced: dropped C {median(c_keep, 0):.0f}, Python {median(py_keep, 0):.0f}"
          f" (goal 0); CPU per frame Python / C: {median(py_keep, 1) / median(c_keep, 1):.2f}"
          f" (goal <= 1.2; {median(py_keep, 1):.0f} vs {median(c_keep, 1):.0f} us)")
    print(f"unpaced, loop variable only: Python / C: {median(py_loop, 0) / median(c_loop, 0):.1%}"
          f" (goal >= 95%; {median(py_loop, 0):.1f} vs {median(c_loop, 0):.1f} fps),"
          f" rounds' own ratios' median "
          f"{statistics.median(p[0] / c[0] for c, p in zip(c_loop, py_loop)):.1%};"
          f" CPU per frame {median(py_loop, 1):.0f} vs {median(c_loop, 1):.0f} us")
    print(f"load average at the end: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
