#!/usr/bin/env python3
"""A timed series: one frame every --interval seconds, saved as numbered files.

    python3 capture_series.py --count 10 --interval 0.5 --out series/ --format png
"""
import argparse
import os
import time

import zorbex


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--slot", type=int, default=0)
    parser.add_argument("--count", type=int, default=5)
    parser.add_argument("--interval", type=float, default=1.0, help="seconds between frames")
    parser.add_argument("--out", default="series")
    parser.add_argument("--format", default="png", help="bmp, png, jpeg, tiff or raw")
    parser.add_argument("--exposure-us", type=int, help="exposure in microseconds")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    with zorbex.Camera(args.slot) as cam:
        if args.exposure_us:
            cam.exposure_us = args.exposure_us
        start = time.monotonic()
        for i in range(args.count):
            # Wait for the slot in the schedule, not a fixed pause, so the
            # series does not drift by the time each frame takes.
            time.sleep(max(0.0, start + i * args.interval - time.monotonic()))
            frame = cam.snap()
            path = os.path.join(args.out, f"frame{i:04d}.{args.format}")
            cam.save(path, format=args.format)
            print(f"{frame.timestamp - start:7.3f} s  {path}  mean {frame.mean():.1f}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
