"""Frames: numpy arrays that carry where they came from."""
from __future__ import annotations

from typing import Any, Optional

import numpy as np

#: Colour mode name -> (bits for Zorbex_SetColorMode, Zorbex_GetColorMode result,
#: numpy dtype, channels).
COLOR_MODES = {
    "mono8": (8, 8, np.uint8, 1),
    "mono16": (16, 12, np.uint16, 1),
    "bgr24": (24, 24, np.uint8, 3),
    "bgra32": (32, 32, np.uint8, 4),
    "bgr48": (48, 44, np.uint16, 3),
    "bgra64": (64, 60, np.uint16, 4),
}
MODE_BY_REPORTED = {reported: name for name, (_, reported, _, _) in COLOR_MODES.items()}


class Frame(np.ndarray):
    """A developed frame: a numpy array owned by the caller, plus its origin.

    Shape ``(height, width)`` for the monochrome modes and
    ``(height, width, channels)`` for colour, channels in blue-green-red(-x)
    order; ``uint8`` for 8-bit samples, ``uint16`` holding 12-bit values for
    ``mono16``, ``bgr48`` and ``bgra64``.  The top row comes first.

    Attributes:
        number: the frame's running number in its stream (1 for the first
            frame the library announced); for snapshots, the camera's
            snapshot count.
        timestamp: ``time.monotonic()`` seconds when the frame was taken
            from the library.
        color_mode: the colour mode name, e.g. ``"bgr24"``.
        dropped: frames of the stream skipped since the one before this,
            because they came faster than they were taken.
    """

    # Class-level defaults: a frame made over a plain array (every streamed
    # frame) needs no per-instance copy of them.
    number: Optional[int] = None
    timestamp: Optional[float] = None
    color_mode: Optional[str] = None
    dropped: int = 0

    def __array_finalize__(self, obj: Any) -> None:
        # Views and results of a frame carry where it came from.
        if isinstance(obj, Frame):
            self.number = obj.number
            self.timestamp = obj.timestamp
            self.color_mode = obj.color_mode
            self.dropped = obj.dropped


def image_layout(mode: str, width: int, height: int) -> "tuple[int, int]":
    """(row stride in bytes, total bytes) of a developed image; rows are padded to 4 bytes."""
    bits, _, dtype, channels = COLOR_MODES[mode]
    stride = (width * bits // 8 + 3) & ~3
    return stride, stride * height


def frame_geometry(mode: str, width: int, height: int
                   ) -> "tuple[tuple[int, ...], np.dtype, tuple[int, ...]]":
    """(shape, dtype, strides) of a frame over a byte buffer laid out as the library copies it."""
    bits, _, dtype, channels = COLOR_MODES[mode]
    itemsize = np.dtype(dtype).itemsize
    stride = (width * bits // 8 + 3) & ~3
    if channels == 1:
        return (height, width), np.dtype(dtype), (stride, itemsize)
    return (height, width, channels), np.dtype(dtype), (stride, channels * itemsize, itemsize)


def as_frame(buffer: np.ndarray, mode: str, width: int, height: int, number: Optional[int],
             timestamp: Optional[float], dropped: int = 0) -> Frame:
    """Views a filled byte buffer as a Frame without copying it again (padded
    rows give a strided view of the same bytes, still owned by the caller)."""
    shape, dtype, strides = frame_geometry(mode, width, height)
    frame = np.ndarray.__new__(Frame, shape, dtype, buffer, 0, strides)
    frame.number = number
    frame.timestamp = timestamp
    frame.color_mode = mode
    frame.dropped = dropped
    return frame
