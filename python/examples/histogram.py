#!/usr/bin/env python3
"""Histogram of one frame per colour channel, drawn with matplotlib into a PNG file.

    python3 histogram.py --out histogram.png --mode bgr48
"""
import argparse

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import zorbex  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--slot", type=int, default=0)
    parser.add_argument("--mode", default="bgr24", choices=list(zorbex.COLOR_MODES))
    parser.add_argument("--out", default="histogram.png")
    args = parser.parse_args()

    with zorbex.Camera(args.slot) as cam:
        cam.color_mode = args.mode
        frame = cam.snap()

    top = 4096 if frame.dtype == np.uint16 else 256  # 16-bit modes hold 12-bit values
    channels = [frame] if frame.ndim == 2 else [frame[..., i] for i in range(3)]
    colours = ["gray"] if frame.ndim == 2 else ["blue", "green", "red"]
    figure, axes = plt.subplots(figsize=(8, 4))
    for samples, colour in zip(channels, colours):
        counts = np.bincount(samples.ravel(), minlength=top)
        axes.plot(np.arange(top), counts, color=colour, label=f"{colour} (mean {samples.mean():.1f})")
    axes.set_xlim(0, top - 1)
    axes.set_xlabel("sample value")
    axes.set_ylabel("pixels")
    axes.set_title(f"{args.mode}, {frame.shape[1]} x {frame.shape[0]}")
    axes.legend()
    figure.tight_layout()
    figure.savefig(args.out)
    print(f"histogram written to {args.out}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
