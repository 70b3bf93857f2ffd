"""Python access to the Zorbex 530RD-NQT camera SDK.

A thin ctypes layer over ``libZorbexSdk_530RD_NQT.so``: cameras as objects
with properties in real units, frames as numpy arrays the caller owns, and
the library's error codes as exceptions::

    import zorbex
    print(zorbex.cameras())
    with zorbex.Camera(0) as cam:
        cam.color_mode = "bgr24"
        for frame in cam.stream(count=10):
            print(frame.number, frame.timestamp, frame.shape, frame.mean())

``zorbex.vcam`` drives the virtual camera that stands in for hardware.
The library is found through ``ZORBEX_LIBRARY``, next to the package, in the
installation, or by the system's loader.
"""
from ._adjustments import ADJUSTMENTS, Adjustment
from ._library import LibraryNotFoundError, library_path
from .camera import (FILE_FORMATS, Camera, CameraEntry, CaptureWindow, cameras,
                     version)
from .errors import (CameraClosedError, DeviceUnavailableError, FrameTimeoutError,
                     ParameterError, ZorbexError)
from .frame import COLOR_MODES, RAW_MODES, Frame
from .stream import STRATEGIES, Stream
from . import errors, vcam

__all__ = [
    "ADJUSTMENTS", "Adjustment", "COLOR_MODES", "FILE_FORMATS", "Camera", "CameraClosedError",
    "CameraEntry", "CaptureWindow", "DeviceUnavailableError", "Frame", "FrameTimeoutError",
    "LibraryNotFoundError", "ParameterError", "RAW_MODES", "STRATEGIES", "Stream", "ZorbexError", "cameras", "errors",
    "library_path", "vcam", "version",
]
