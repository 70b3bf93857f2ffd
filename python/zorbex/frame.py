"""Frames: numpy arrays that carry where and when they were taken."""
from __future__ import annotations

from typing import Any, Dict, Optional, Tuple

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

#: Raw modes: the undeveloped colour-filter mosaic, one sample per pixel.
#: The library's colour mode picks the sample width (8 bits, or 12 bits in
#: 16-bit words); these are the colour modes set for them.
RAW_MODES = {"raw8": 24, "raw16": 48}

#: The frame queue's pixel formats: name, dtype, channels.
FORMATS: Dict[int, Tuple[str, Any, int]] = {
    0: ("mono8", np.uint8, 1), 1: ("mono16", np.uint16, 1), 2: ("bgr24", np.uint8, 3),
    3: ("bgra32", np.uint8, 4), 4: ("bgr48", np.uint16, 3), 5: ("bgra64", np.uint16, 4),
    8: ("raw8", np.uint8, 1), 9: ("raw16", np.uint16, 1),
}

#: Colour-filter order of raw frames: the colours of the first two rows'
#: first two samples.
BAYER_ORDERS = {0: None, 1: "RGGB", 2: "GRBG", 3: "GBRG", 4: "BGGR"}

_META = ("number", "timestamp", "exposure_us", "gain", "dropped_before", "color_mode", "bayer")


class Frame(np.ndarray[Any, np.dtype[Any]]):
    """A frame: a numpy array plus what the library says about it.

    Shape ``(height, width)`` for the monochrome and raw modes and
    ``(height, width, channels)`` for colour, channels in blue-green-red(-x)
    order; ``uint8`` for 8-bit samples, ``uint16`` holding 12-bit values for
    the 16-bit modes.  The top row comes first.

    Attributes:
        number: the frame's number since its stream started, from 1; gaps
            are frames lost (for snapshots: the camera's snapshot count).
        timestamp: ``CLOCK_MONOTONIC`` nanoseconds when the frame's
            transfer completed, from the library (``time.monotonic_ns()``
            counts on the same clock).
        exposure_us: the exposure the frame was taken with, in microseconds.
        gain: the sensor gain step it was taken with.
        dropped_before: frames lost between the one taken before and this.
        color_mode: the mode name, e.g. ``"bgr24"`` or ``"raw8"``.
        bayer: the colour-filter order of a raw frame (``"RGGB"`` ...), else None.

    Views and copies keep these attributes, and so does pickling.
    Reductions over the whole frame (``frame.mean()``, ``frame.max()``)
    give plain numpy scalars.
    """

    # Class-level defaults: a frame's own values live in its __dict__.
    number: Optional[int] = None
    timestamp: Optional[int] = None
    exposure_us: Optional[int] = None
    gain: Optional[int] = None
    dropped_before: int = 0
    color_mode: Optional[str] = None
    bayer: Optional[str] = None

    @property
    def dropped(self) -> int:
        """The same as :attr:`dropped_before`."""
        return self.dropped_before

    def __array_finalize__(self, obj: Any) -> None:
        # Views and results of a frame carry where it came from.
        if isinstance(obj, Frame) and obj.__dict__:
            self.__dict__.update(obj.__dict__)

    def __array_wrap__(self, obj: Any, context: Any = None, return_scalar: bool = False) -> Any:
        if obj.ndim == 0:
            return obj[()]  # a reduction to one value: a numpy scalar
        return super().__array_wrap__(obj, context)

    def __reduce__(self) -> Tuple[Any, ...]:
        constructor, args, state = super().__reduce__()  # type: ignore[misc]
        return constructor, args, (state, dict(self.__dict__))

    def __setstate__(self, state: Any) -> None:
        if isinstance(state, tuple) and len(state) == 2 and isinstance(state[1], dict):
            super().__setstate__(state[0])
            self.__dict__.update({k: v for k, v in state[1].items() if k in _META})
        else:
            super().__setstate__(state)

    def metadata(self) -> Dict[str, Any]:
        """The frame's attributes as a dict."""
        return {name: getattr(self, name) for name in _META}


def image_layout(mode: str, width: int, height: int) -> Tuple[int, int]:
    """(row stride in bytes, total bytes) of a developed image; rows are padded to 4 bytes."""
    bits = COLOR_MODES[mode][0]
    stride = (width * bits // 8 + 3) & ~3
    return stride, stride * height


def geometry(dtype: Any, channels: int, width: int, height: int, stride: int
             ) -> Tuple[Tuple[int, ...], np.dtype[Any], Tuple[int, ...]]:
    """(shape, dtype, strides) of a frame over rows ``stride`` bytes apart."""
    dt = np.dtype(dtype)
    if channels == 1:
        return (height, width), dt, (stride, dt.itemsize)
    return (height, width, channels), dt, (stride, channels * dt.itemsize, dt.itemsize)


def frame_geometry(mode: str, width: int, height: int
                   ) -> Tuple[Tuple[int, ...], np.dtype[Any], Tuple[int, ...]]:
    """(shape, dtype, strides) of a frame over a byte buffer laid out as the library copies it."""
    _, _, dtype, channels = COLOR_MODES[mode]
    return geometry(dtype, channels, width, height, image_layout(mode, width, height)[0])


def as_frame(buffer: np.ndarray[Any, Any], mode: str, width: int, height: int, **meta: Any) -> Frame:
    """Views a filled byte buffer as a Frame without copying it again (padded
    rows give a strided view of the same bytes, still owned by the caller)."""
    shape, dtype, strides = frame_geometry(mode, width, height)
    frame: Frame = np.ndarray.__new__(Frame, shape, dtype, buffer, 0, strides)
    frame.__dict__.update(meta, color_mode=mode)
    return frame
