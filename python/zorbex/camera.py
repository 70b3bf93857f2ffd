"""Cameras: opening one, its settings, and frames as numpy arrays."""
from __future__ import annotations

import ctypes
import math
import os
import struct
import threading
import time
import weakref
from ctypes import byref, c_int
from typing import TYPE_CHECKING, Any, Callable, Dict, List, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _library
from ._adjustments import ADJUSTMENTS, BY_NAME, Adjustment
from .errors import (ERR_FILE, ERR_FRAME_TIMEOUT, ERR_MEMORY, ERR_NOT_READY, ERR_PARAMETER,
                     CameraClosedError, ParameterError, ZorbexError, error_for, out_of_range)
from .frame import COLOR_MODES, MODE_BY_REPORTED, Frame, as_frame, image_layout

if TYPE_CHECKING:
    from .stream import Stream

PathLike = Union[str, "os.PathLike[str]"]

MAX_SLOTS = 32
SENSOR_WIDTH = 1280
SENSOR_HEIGHT = 720

#: Still-image format names of :meth:`Camera.save` and their library numbers.
FILE_FORMATS: Dict[str, int] = {
    "bmp": 0, "raw": 1,
    "jpeg-high": 2, "jpeg": 3, "jpeg-normal": 3, "jpeg-low": 4,
    "jpg-high": 2, "jpg": 3, "jpg-normal": 3, "jpg-low": 4,
    "png": 5, "tiff": 6, "tif": 6,
}

AUTO_IRIS_MODES = ("off", "exposure", "gain")

_WAIT_SLICE_MS = 100


class CameraEntry(NamedTuple):
    """An attached camera as :func:`cameras` lists it."""
    slot: int
    name: str
    in_use: bool


class CaptureWindow(NamedTuple):
    """The part of the 1280 x 720 sensor that is read out, in pixels."""
    x: int
    y: int
    width: int
    height: int


def _as_int(value: Any, what: str) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    return int(value)


def _as_bool(value: Any, what: str) -> bool:
    if not isinstance(value, (bool, int, np.integer, np.bool_)):
        raise TypeError(f"{what} must be True or False, not {type(value).__name__}")
    return bool(value)


def _check_range(value: Any, what: str, low: int, high: int, unit: str = "") -> int:
    number = _as_int(value, what)
    if not low <= number <= high:
        raise out_of_range(what, value, low, high, unit)
    return number


def _as_timeout(value: Any, action: str) -> float:
    """A time-out in seconds: a positive, finite number.  NaN and infinity
    are refused here rather than failing at the first wait."""
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"timeout must be a number of seconds, not {type(value).__name__}")
    try:
        seconds = float(value)
    except OverflowError:
        seconds = math.inf
    if not (math.isfinite(seconds) and seconds > 0):
        raise ParameterError(ERR_PARAMETER, action,
                             f"timeout must be a positive, finite number of seconds, not {value!r}")
    return seconds


def _file_name(path: PathLike, action: str) -> bytes:
    """The file name as the library takes it.  A NUL would end the C string
    early and the library would write another file than the one named."""
    name = os.fsencode(os.fspath(path))
    if b"\0" in name:
        raise ParameterError(ERR_PARAMETER, action, "the file name contains a NUL character")
    return name


def version() -> int:
    """The library's version number (``Zorbex_GetDllVersion``)."""
    return int(_library.lib().Zorbex_GetDllVersion())


def cameras() -> List[CameraEntry]:
    """Lists the attached cameras: slot, display name and whether a stream uses it.

    A camera is "in use" while some session, in this or another process,
    streams from it; opening it then fails with
    :class:`~zorbex.DeviceUnavailableError`.
    """
    lib = _library.lib()
    handle = lib.Zorbex_Initialize(None)
    if not handle:
        raise ZorbexError(ERR_MEMORY, "list the cameras")
    found: List[CameraEntry] = []
    try:
        name = ctypes.create_string_buffer(64)
        for slot in range(MAX_SLOTS):
            if not lib.Zorbex_GetDeviceName(handle, slot, name, len(name)):
                continue
            # Applying the settings is how the library learns whether another
            # session streams from the camera.
            usable = lib.Zorbex_SetDeviceNumber(handle, slot) and lib.Zorbex_Capture(handle)
            lib.Zorbex_StopPreview(handle)
            found.append(CameraEntry(slot, name.value.decode("utf-8"), not usable))
    finally:
        lib.Zorbex_Release(handle)
    return found


def _release(lib: ctypes.CDLL, handle: int, windows: Tuple[int, ...], use: threading.RLock,
             stream_slot: List[Optional["weakref.ReferenceType[Stream]"]]) -> None:
    # Runs at close, on garbage collection or at interpreter exit; waits
    # for a call on the session that another thread is making.
    with use:
        stream = stream_slot[0]() if stream_slot[0] is not None else None
        if stream is not None:
            stream.close()  # it reads the session's frame record until then
        lib.Zorbex_Release(handle)
    for window in windows:
        lib.ZbxWin_DestroyWindow(window)


class Camera:
    """One camera session.

    Open it by slot (see :func:`cameras`) and use it as a context manager;
    it is also closed when garbage collected::

        with zorbex.Camera(0) as cam:
            cam.color_mode = "bgr24"
            cam.exposure_us = 10000
            frame = cam.snap()            # numpy array (720, 1280, 3), uint8

    Settings are properties in the library's units; a value out of range
    raises :class:`~zorbex.ParameterError` (a ``ValueError``) naming the
    range, a value of the wrong type ``TypeError``.  The colour mode and the
    capture window take effect at the next snapshot or stream start; gain,
    exposure and mirrors at once; the image adjustment values with the next
    developed frame.

    Frames (:meth:`snap`, :meth:`stream`, :meth:`trigger`) are numpy arrays
    (:class:`~zorbex.Frame`) that the caller owns: each is copied once from
    the library and never changes afterwards.

    Every image adjustment value is a property named after it
    (``brightness``, ``gamma``, ``bayer_gain_red`` ...; see
    ``zorbex.ADJUSTMENTS`` for the list, ranges and units).
    """

    def __init__(self, slot: int = 0) -> None:
        slot = _check_range(slot, "slot", 0, MAX_SLOTS - 1)
        self._lib = _library.lib()
        lib = self._lib
        self._slot = slot
        # The running stream (weakly), in a list the finalizer shares: at
        # interpreter exit it ends a stream another thread still iterates
        # before the session goes.
        self._stream_slot: List[Optional["weakref.ReferenceType[Stream]"]] = [None]
        # The buffer the library was last told to copy streamed frames into;
        # it keeps that address after a stream ends, so the buffer lives on.
        self._library_buffer: object = None
        self._trigger_mode = False
        self._snaps = 0
        self._peek = _library.Message()
        # Held around each call on the session and around its release, so
        # that another thread's close() never ends the session in the middle
        # of a call (whose failure would then read as some other error) nor
        # frees session memory read meanwhile (a stream's frame record).
        self._use = threading.RLock()
        self._notify = lib.ZbxWin_CreateMessageWindow()
        self._frames = lib.ZbxWin_CreateMessageWindow()
        self._handle = lib.Zorbex_Initialize(self._notify) if self._notify and self._frames else 0
        self._finalizer = weakref.finalize(self, _release, lib, self._handle,
                                           tuple(w for w in (self._notify, self._frames) if w),
                                           self._use, self._stream_slot)
        if not self._handle:
            self._finalizer()
            raise ZorbexError(ERR_MEMORY, f"open camera {slot}")
        try:
            if slot != 0:  # a new session starts on slot 0
                self._call(lib.Zorbex_SetDeviceNumber, f"open camera {slot}", slot)
            # Frames are announced by message; the library paints no window.
            self._call(lib.Zorbex_SetPreviewWindow, "set up the camera", None, 0, 0, 0, 0)
            # Fails now, not at the first frame, when another process streams
            # from the camera.
            self._call(lib.Zorbex_Capture, f"open camera {slot}")
            self._call(lib.Zorbex_StopPreview, f"open camera {slot}")
            info = _library.CameraInfo(size=ctypes.sizeof(_library.CameraInfo))
            self._call(lib.Zorbex_GetCameraInfo, "read the camera information", byref(info))
            self._info = info
        except BaseException:
            self._finalizer()
            raise

    # --- life cycle -------------------------------------------------------

    def close(self) -> None:
        """Stops any stream or trigger mode and ends the session.  Safe to call twice."""
        if not self._finalizer.alive:
            return
        stream = self._running_stream()
        if stream is not None:
            stream.close()
        self._finalizer()

    @property
    def closed(self) -> bool:
        """True after :meth:`close`."""
        return not self._finalizer.alive

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self.color_mode} {self.width}x{self.height}"
        return f"<zorbex.Camera slot {self._slot}, {state}>"

    # --- errors -----------------------------------------------------------

    def _h(self) -> int:
        if not self._finalizer.alive:
            raise CameraClosedError(ERR_NOT_READY, "use the camera", "the camera is closed")
        return self._handle

    def _error(self, action: str, fallback: int = ERR_NOT_READY) -> ZorbexError:
        """The exception for the failure just reported; empties the history.

        A failing call may record several codes, the cause first and then
        what the call made of it (a failed settings apply, then "not
        ready"): the exception carries the first, ``codes`` all of them.
        """
        if self.closed:
            # Closed by another thread while the call ran.
            return CameraClosedError(ERR_NOT_READY, action, "the camera is closed")
        codes, posted = self._take_errors()
        code = codes[-1] if codes else (posted or fallback)
        error = error_for(code, action)
        error.codes = list(reversed(codes)) or [code]
        return error

    def _take_errors(self) -> Tuple[List[int], int]:
        """Empties the error history (codes newest first) and the
        notification queue (the last code posted, 0 for none)."""
        codes = []
        while True:
            code = self._lib.Zorbex_GetLastError(self._handle)
            if not code:
                break
            codes.append(int(code))
        posted = 0
        if self._lib.ZbxWin_PeekMessage(self._notify, byref(self._peek), 0):
            posted = self._drain_notifications()
        return codes, posted

    def _drain_notifications(self) -> int:
        # Codes posted without being recorded (some setters only post); the
        # queue is emptied so it never fills up.
        message = _library.Message()
        last = 0
        while self._lib.ZbxWin_PeekMessage(self._notify, byref(message), 1):
            if message.message == _library.MSG_ERROR:
                last = int(message.lparam)
        return last

    def _call(self, function: Callable[..., int], action: str, *args: Any) -> int:
        with self._use:
            h = self._h()
            self._take_errors()  # so that codes after a failure are this call's
            result = function(h, *args)
            if not result:
                raise self._error(action)
            return result

    def _get(self, function: Callable[..., int], action: str, *args: Any) -> int:
        ok = c_int(0)
        with self._use:
            h = self._h()
            self._take_errors()
            value = function(h, *args, byref(ok))
            if not ok.value:
                raise self._error(action)
            return int(value)

    def _value(self, function: Callable[..., int], *args: Any) -> int:
        """A getter's result: it cannot fail while the session is open."""
        with self._use:
            return function(self._h(), *args)

    # --- identity ---------------------------------------------------------

    @property
    def slot(self) -> int:
        """The slot (device number 0 to 31) the camera sits in."""
        return self._slot

    @property
    def name(self) -> str:
        """The camera's display name, e.g. ``"Zorbex530RD-NQT_01"``."""
        buffer = ctypes.create_string_buffer(64)
        self._call(self._lib.Zorbex_GetDeviceName, "read the camera name", self._slot, buffer, 64)
        return buffer.value.decode("utf-8")

    @property
    def handle(self) -> int:
        """The library's session handle, for calling the C functions directly."""
        return self._h()

    @property
    def gain_range(self) -> Tuple[int, int]:
        """Lowest and highest :attr:`gain` step."""
        return (self._info.min_gain, self._info.max_gain)

    @property
    def exposure_range(self) -> Tuple[int, int]:
        """Shortest and longest exposure in sensor lines."""
        return (self._info.min_exposure, self._info.max_exposure)

    # --- format and geometry ----------------------------------------------

    @property
    def color_mode(self) -> str:
        """Output colour mode: ``"mono8"``, ``"mono16"`` (12-bit values in
        16 bits), ``"bgr24"``, ``"bgra32"``, ``"bgr48"`` or ``"bgra64"``
        (12-bit values in 16 bits per channel)."""
        return MODE_BY_REPORTED[self._value(self._lib.Zorbex_GetColorMode)]

    @color_mode.setter
    def color_mode(self, mode: str) -> None:
        if not isinstance(mode, str):
            raise TypeError(f"color_mode must be a name, not {type(mode).__name__}")
        if mode not in COLOR_MODES:
            raise ParameterError(ERR_PARAMETER, "set color_mode",
                                 f"color_mode must be one of {', '.join(COLOR_MODES)}, not {mode!r}")
        self._require_idle("set color_mode")
        self._call(self._lib.Zorbex_SetColorMode, "set color_mode", COLOR_MODES[mode][0])

    @property
    def width(self) -> int:
        """Width of the frames in pixels (the capture window's width)."""
        return int(self._value(self._lib.Zorbex_Width))

    @property
    def height(self) -> int:
        """Height of the frames in pixels (the capture window's height)."""
        return int(self._value(self._lib.Zorbex_Height))

    @property
    def capture_window(self) -> CaptureWindow:
        """The sensor area read out, ``(x, y, width, height)`` in pixels; it
        must lie inside the 1280 x 720 sensor.  Assign a 4-tuple."""
        values = [c_int(0) for _ in range(6)]
        self._value(self._lib.Zorbex_GetCaptureWindowEx, *(byref(v) for v in values))
        _, x, width, _, y, height = (v.value for v in values)
        return CaptureWindow(x, y, width, height)

    @capture_window.setter
    def capture_window(self, window: Tuple[int, int, int, int]) -> None:
        try:
            x, y, width, height = window
        except (TypeError, ValueError):
            raise TypeError("capture_window takes (x, y, width, height)") from None
        x = _check_range(x, "capture_window x", 0, SENSOR_WIDTH - 1)
        y = _check_range(y, "capture_window y", 0, SENSOR_HEIGHT - 1)
        width = _check_range(width, "capture_window width", 1, SENSOR_WIDTH - x, "pixels")
        height = _check_range(height, "capture_window height", 1, SENSOR_HEIGHT - y, "pixels")
        self._require_idle("set capture_window")
        self._call(self._lib.Zorbex_SetCaptureWindowEx, "set capture_window",
                   SENSOR_WIDTH, x, width, SENSOR_HEIGHT, y, height)

    @property
    def mirror_h(self) -> bool:
        """Horizontal mirror (left and right swapped)."""
        return bool(self._value(self._lib.Zorbex_GetMirrorH))

    @mirror_h.setter
    def mirror_h(self, flag: bool) -> None:
        self._call(self._lib.Zorbex_SetMirrorH, "set mirror_h", int(_as_bool(flag, "mirror_h")))

    @property
    def mirror_v(self) -> bool:
        """Vertical mirror (top and bottom swapped)."""
        return bool(self._value(self._lib.Zorbex_GetMirrorV))

    @mirror_v.setter
    def mirror_v(self, flag: bool) -> None:
        self._call(self._lib.Zorbex_SetMirrorV, "set mirror_v", int(_as_bool(flag, "mirror_v")))

    @property
    def wait_time_ms(self) -> int:
        """Pause of the library's streaming loop before each frame, in milliseconds (0 or more)."""
        return int(self._value(self._lib.Zorbex_GetWaitTime))

    @wait_time_ms.setter
    def wait_time_ms(self, milliseconds: int) -> None:
        value = _check_range(milliseconds, "wait_time_ms", 0, 2**31 - 1, "ms")
        self._call(self._lib.Zorbex_SetWaitTime, "set wait_time_ms", value)

    # --- sensor -----------------------------------------------------------

    @property
    def exposure_lines(self) -> int:
        """Exposure in sensor lines (see :attr:`exposure_range`)."""
        return self._get(self._lib.Zorbex_GetFilterValue, "read exposure_lines", 18)

    @exposure_lines.setter
    def exposure_lines(self, lines: int) -> None:
        low, high = self.exposure_range
        value = _check_range(lines, "exposure_lines", low, high, "lines")
        self._call(self._lib.Zorbex_SetFilterValue, "set exposure_lines", 18, value)

    @property
    def exposure_us(self) -> int:
        """Exposure in microseconds; set values are rounded down to whole lines."""
        return self._get(self._lib.Zorbex_GetRealExposureTime, "read exposure_us")

    @exposure_us.setter
    def exposure_us(self, microseconds: int) -> None:
        value = _as_int(microseconds, "exposure_us")
        with self._use:
            h = self._h()
            self._take_errors()
            if value > 0 and self._lib.Zorbex_SetRealExposureTime(h, value):
                return
            error = self._error("set exposure_us")
            if error.code != ERR_PARAMETER and value > 0:
                raise error
            # The range follows from the line length the sensor reports now.
            ok = c_int(0)
            line_clocks = self._lib.Zorbex_ReadRegister(h, 46, byref(ok)) + 6
        low, high = self.exposure_range
        raise out_of_range("exposure_us", microseconds, -(-low * line_clocks // 100),
                           high * line_clocks // 100, "µs")

    @property
    def gain(self) -> int:
        """Sensor gain step (see :attr:`gain_range`)."""
        return self._get(self._lib.Zorbex_GetFilterValue, "read gain", 13)

    @gain.setter
    def gain(self, step: int) -> None:
        low, high = self.gain_range
        value = _check_range(step, "gain", low, high)
        self._call(self._lib.Zorbex_SetFilterValue, "set gain", 13, value)

    @property
    def auto_iris(self) -> str:
        """Automatic control: ``"off"``, ``"exposure"`` or ``"gain"``."""
        return AUTO_IRIS_MODES[self._get(self._lib.Zorbex_GetAutoIris, "read auto_iris")]

    @auto_iris.setter
    def auto_iris(self, mode: str) -> None:
        if mode not in AUTO_IRIS_MODES:
            raise ParameterError(ERR_PARAMETER, "set auto_iris",
                                 f"auto_iris must be one of {', '.join(AUTO_IRIS_MODES)}, not {mode!r}")
        self._call(self._lib.Zorbex_SetAutoIris, "set auto_iris", AUTO_IRIS_MODES.index(mode))

    @property
    def defect_correction(self) -> bool:
        """Correction of the defective pixels loaded with the configuration file."""
        return bool(self._value(self._lib.Zorbex_GetConfigFilter))

    @defect_correction.setter
    def defect_correction(self, flag: bool) -> None:
        self._call(self._lib.Zorbex_SetConfigFilter, "set defect_correction",
                   int(_as_bool(flag, "defect_correction")))

    # --- image adjustment values ------------------------------------------

    def get_adjustment(self, name: str) -> int:
        """The adjustment value ``name`` (see ``zorbex.ADJUSTMENTS``)."""
        spec = self._adjustment(name)
        value = self._get(self._lib.Zorbex_GetFilterValue, f"read {name}", spec.id)
        return bool(value) if spec.flag else value  # type: ignore[return-value]

    def set_adjustment(self, name: str, value: int) -> None:
        """Sets the adjustment value ``name``; out of range raises ParameterError."""
        spec = self._adjustment(name)
        if spec.flag:
            number = int(_as_bool(value, name))
        elif spec.low is None:
            number = _check_range(value, name, 0, 0xFFFFFF)
        else:
            number = _check_range(value, name, spec.low, spec.high, "")
        self._call(self._lib.Zorbex_SetFilterValue, f"set {name}", spec.id, number)

    def adjustments(self) -> Dict[str, int]:
        """All adjustment values by name."""
        return {a.name: self.get_adjustment(a.name) for a in ADJUSTMENTS}

    @staticmethod
    def _adjustment(name: str) -> Adjustment:
        try:
            return BY_NAME[name]
        except (KeyError, TypeError):
            raise ParameterError(ERR_PARAMETER, "find the adjustment value",
                                 f"no adjustment value is named {name!r}") from None

    # --- frames -----------------------------------------------------------

    def _layout(self) -> Tuple[str, int, int, int]:
        mode = self.color_mode
        width, height = self.width, self.height
        return mode, width, height, image_layout(mode, width, height)[1]

    def _image(self, mode: str, width: int, height: int, nbytes: int, action: str) -> np.ndarray:
        buffer = np.empty(nbytes, dtype=np.uint8)
        with self._use:
            if not self._lib.Zorbex_GetImage(self._h(), buffer.ctypes.data, nbytes, 1):
                raise self._error(action)
        return buffer

    def snap(self) -> Frame:
        """Takes one frame now (the camera must not be streaming) and returns it."""
        mode, width, height, nbytes = self._layout()
        buffer = np.empty(nbytes, dtype=np.uint8)
        with self._use:
            h = self._h()
            self._take_errors()
            if not self._lib.Zorbex_SnapShot(h, buffer.ctypes.data, nbytes, 1):
                raise self._error("take a frame")
        self._snaps += 1
        return as_frame(buffer, mode, width, height, self._snaps, time.monotonic())

    def stream(self, count: Optional[int] = None, timeout: float = 5.0) -> "Stream":
        """Starts streaming; iterate over the result for frames.

        Args:
            count: stop after this many frames (``None``: until the loop
                ends or the stream is closed).
            timeout: seconds to wait for each frame before
                :class:`~zorbex.FrameTimeoutError` is raised.

        The library's frame messages are read inside the iteration.  The
        library copies each developed frame straight into memory of the
        stream's own; that memory is handed out as a frame only once the
        library has been told to use other memory, so it is never written
        again while any frame or view of it lives (then the stream reuses
        it).  While the frame handed out before is held by one name only
        (a loop variable), the library gets its memory back as soon as the
        loop moves on; until then it copies no frame.  Each frame
        is a whole developed frame: the newest one when it is taken.  When frames come faster
        than the loop takes them, the skipped ones are counted
        (``Stream.dropped``, ``Frame.dropped``); with a camera faster than
        the library's development (the unpaced virtual camera) the pixels
        may be those of the frame after the one announced.  Leaving the
        loop, ``close()`` or the end of a ``with`` block stops the stream.
        """
        from .stream import Stream
        return Stream(self, count, timeout)

    @property
    def streaming(self) -> bool:
        """True while a :meth:`stream` runs."""
        stream = self._running_stream()
        return stream is not None and stream.running

    def _running_stream(self) -> Optional["Stream"]:
        ref = self._stream_slot[0]
        return ref() if ref is not None else None

    @property
    def trigger_mode(self) -> bool:
        """External trigger mode: each trigger input pulse makes one frame,
        read with :meth:`trigger` or :meth:`wait_trigger`."""
        return self._trigger_mode

    @trigger_mode.setter
    def trigger_mode(self, flag: bool) -> None:
        on = _as_bool(flag, "trigger_mode")
        self._h()
        if on == self._trigger_mode:
            return
        if on:
            self._discard_frame_messages()
            self._call(self._lib.Zorbex_Trigger, "switch trigger_mode on", self._frames, None, 0, 1)
        else:
            self._call(self._lib.Zorbex_StopPreview, "switch trigger_mode off")
        self._trigger_mode = on

    def _discard_frame_messages(self) -> int:
        message = _library.Message()
        count = 0
        while self._lib.ZbxWin_PeekMessage(self._frames, byref(message), 1):
            count += message.message == _library.MSG_FRAME and message.wparam != 0
        return count

    def trigger(self, timeout: float = 5.0) -> Frame:
        """Pulses the virtual camera's trigger input and returns the frame it makes.

        Needs :attr:`trigger_mode`.  With a real trigger source use
        :meth:`wait_trigger`.
        """
        from . import vcam  # the trigger input is the virtual camera's
        _as_timeout(timeout, "take a triggered frame")
        self._require_trigger_mode()
        dropped = self._discard_frame_messages()
        vcam.fire_trigger(self._slot)
        return self.wait_trigger(timeout, dropped)

    def wait_trigger(self, timeout: float = 5.0, _dropped: int = 0) -> Frame:
        """Waits up to ``timeout`` seconds for the frame of the next trigger."""
        seconds = _as_timeout(timeout, "take a triggered frame")
        self._require_trigger_mode()
        message = _library.Message()
        deadline = time.monotonic() + seconds
        while True:
            # Short waits, so that Ctrl-C is not held up by a long time-out.
            remaining = min(_WAIT_SLICE_MS, max(0, int((deadline - time.monotonic()) * 1000)))
            if not self._lib.ZbxWin_WaitMessage(self._frames, byref(message), remaining):
                self._h()  # closed meanwhile: the window is gone, no frame comes
                if time.monotonic() < deadline:
                    continue
                raise error_for(ERR_FRAME_TIMEOUT, "take a triggered frame",
                                f"no triggered frame within {timeout} s")
            if message.message != _library.MSG_FRAME:
                continue
            if message.wparam == 0:
                raise error_for(int(message.lparam), "take a triggered frame")
            break
        mode, width, height, nbytes = self._layout()
        buffer = self._image(mode, width, height, nbytes, "take a triggered frame")
        self._snaps += 1
        return as_frame(buffer, mode, width, height, self._snaps, time.monotonic(), _dropped)

    def _require_idle(self, action: str) -> None:
        # The frame format is fixed while frames flow: the library sizes its
        # buffers only when acquisition starts.
        if self.streaming or self._trigger_mode:
            raise ZorbexError(ERR_NOT_READY, action, "stop the stream or trigger mode first")

    def _require_trigger_mode(self) -> None:
        self._h()
        if not self._trigger_mode:
            raise ZorbexError(ERR_NOT_READY, "take a triggered frame", "trigger_mode is off")

    # --- files ------------------------------------------------------------

    def save(self, path: PathLike, format: Optional[str] = None) -> None:
        """Saves the last frame the camera delivered as a still image.

        ``format`` is one of ``bmp``, ``raw``, ``jpeg`` (also ``jpeg-high``,
        ``jpeg-low``), ``png``, ``tiff``; by default it follows the file's
        extension.  Raw files hold the pixel rows, top row first, each padded
        to 4 bytes.
        """
        self._h()
        filename = os.fspath(path)
        encoded = _file_name(filename, f"save {filename!r}")
        if format is None:
            format = os.path.splitext(filename)[1].lstrip(".").lower()
        if not isinstance(format, str) or format.lower() not in FILE_FORMATS:
            raise ParameterError(ERR_PARAMETER, f"save {filename}",
                                 f"the format must be one of {', '.join(sorted(FILE_FORMATS))}, "
                                 f"not {format!r}")
        with self._use:
            h = self._h()
            self._take_errors()
            if self._lib.Zorbex_SaveImage(h, encoded, FILE_FORMATS[format.lower()]):
                return
            error = self._error(f"save {filename}", fallback=0)
        if error.code:
            raise error
        # Writers report failure by the result alone.
        raise ZorbexError(ERR_FILE, f"save {filename}", "the file could not be written")

    def record(self, path: PathLike, seconds: float) -> int:
        """Records ``seconds`` of the stream into an uncompressed 24-bit AVI
        file and returns the number of frames written.  Blocks meanwhile;
        the camera must not be streaming or in trigger mode."""
        self._h()
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
            raise TypeError(f"seconds must be a number, not {type(seconds).__name__}")
        if not 0 < seconds <= 2**31 / 1000:
            raise out_of_range("seconds", seconds, 0, 2**31 // 1000, "s")
        filename = _file_name(path, f"record {os.fspath(path)!r}")
        self._require_idle("record")
        with self._use:
            h = self._h()
            self._take_errors()
            if not self._lib.Zorbex_Record(h, filename, int(seconds * 1000), 0):
                raise self._error(f"record {os.fspath(path)}")
        try:
            # The recorder finishes the file at the first frame after the
            # duration; stopping finishes it too.
            time.sleep(seconds + 0.1)
        finally:
            with self._use:
                if not self.closed:
                    self._lib.Zorbex_StopPreview(h)
                    self._drain_notifications()
        with open(filename, "rb") as avi:
            header = avi.read(52)
        return struct.unpack_from("<I", header, 48)[0] if len(header) == 52 else 0


def _adjustment_property(spec: Adjustment) -> property:
    def getter(self: Camera) -> int:
        return self.get_adjustment(spec.name)

    def setter(self: Camera, value: int) -> None:
        self.set_adjustment(spec.name, value)

    if spec.flag:
        range_text = "True or False"
    elif spec.low is None:
        range_text = "0 to 0xFFFFFF"
    else:
        range_text = f"{spec.low} to {spec.high}"
    doc = f"Image adjustment value {spec.id}: {range_text} ({spec.unit})."
    return property(getter, setter, doc=doc)


for _spec in ADJUSTMENTS:
    if not hasattr(Camera, _spec.name):
        setattr(Camera, _spec.name, _adjustment_property(_spec))
