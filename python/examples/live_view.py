#!/usr/bin/env python3
"""Live view with OpenCV: frames with the frame rate drawn on them.

Shows a window when a display is there (press q or Esc to stop); with
--headless, or without a display, writes every n-th frame as a PNG file
instead.  Runs on the virtual camera when no camera is attached.

    python3 live_view.py                         # window until q
    python3 live_view.py --headless --seconds 2 --out frames/
"""
import argparse
import os
import time

import cv2

import zorbex


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--slot", type=int, default=0, help="camera slot (default 0)")
    parser.add_argument("--mode", default="bgr24", choices=list(zorbex.COLOR_MODES))
    parser.add_argument("--seconds", type=float, default=0, help="stop after this long (0: never)")
    parser.add_argument("--headless", action="store_true", help="write frames, show no window")
    parser.add_argument("--out", default="live", help="folder for --headless frames")
    parser.add_argument("--every", type=int, default=15, help="--headless: write every n-th frame")
    args = parser.parse_args()
    headless = args.headless or not os.environ.get("DISPLAY")
    if headless:
        os.makedirs(args.out, exist_ok=True)

    written = 0
    with zorbex.Camera(args.slot) as cam:
        cam.color_mode = args.mode
        start = time.monotonic()
        stream = cam.stream()
        for frame in stream:
            elapsed = time.monotonic() - start
            rate = stream.frames / elapsed if elapsed > 0 else 0.0
            # OpenCV draws on 8-bit pictures; 16-bit modes hold 12-bit values.
            picture = (frame >> 4).astype("uint8") if frame.dtype != "uint8" else frame.copy()
            text = f"#{frame.number}  {rate:.1f} fps  dropped {stream.dropped}"
            cv2.putText(picture, text, (10, 30), cv2.FONT_HERSHEY_SIMPLEX, 0.8, 255, 2)
            if headless:
                if stream.frames % args.every == 1 or args.every == 1:
                    cv2.imwrite(os.path.join(args.out, f"frame{frame.number:05d}.png"), picture)
                    written += 1
            else:
                cv2.imshow("zorbex live view", picture)
                if cv2.waitKey(1) & 0xFF in (ord("q"), 27):
                    break
            if args.seconds and elapsed >= args.seconds:
                break
        stream.close()
        print(f"{stream.frames} frames, {stream.dropped} dropped")
    if headless:
        print(f"{written} frames written to {args.out}/")
    else:
        cv2.destroyAllWindows()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
