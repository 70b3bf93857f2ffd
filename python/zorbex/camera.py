"""Cameras: opening one, its settings, and frames as numpy arrays."""
from __future__ import annotations

import ctypes
import math
import os
import struct
import threading
import time
from ctypes import byref, c_int
from typing import (Any, AsyncIterator, Callable, Dict, List, NamedTuple, Optional, Tuple,
                    Union)

import numpy as np

from . import _library, _session
from ._adjustments import ADJUSTMENTS, BY_NAME, Adjustment
from ._session import Session
from .errors import (ERR_FILE, ERR_FRAME_TIMEOUT, ERR_NOT_READY, ERR_PARAMETER,
                     ParameterError, ZorbexError, error_for, out_of_range)
from .frame import COLOR_MODES, MODE_BY_REPORTED, RAW_MODES, Frame, as_frame, image_layout
from .stream import Stream, timeout_value

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
    """An attached camera as :func:`cameras` lists it.  The cameras of this
    kind keep no serial number the library can read without reprogramming
    them, so the name (which follows the slot) is what tells them apart."""
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
    """An integer value; a float is taken when it is a whole number (1000.0)."""
    if isinstance(value, (float, np.floating)):
        if math.isfinite(value) and float(value).is_integer():
            return int(value)
        raise TypeError(f"{what} must be an integer, not {value!r}")
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{what} must be an integer, not {value!r}")
    return int(value)


def _file_name(path: PathLike, action: str) -> bytes:
    """The file name as the library takes it.  A NUL would end the C string
    early and the library would write another file than the one named."""
    name = os.fsencode(os.fspath(path))
    if b"\0" in name:
        raise ParameterError(ERR_PARAMETER, action, "the file name contains a NUL character")
    return name


def _as_bool(value: Any, what: str) -> bool:
    if not isinstance(value, (bool, int, np.integer, np.bool_)):
        raise TypeError(f"{what} must be True or False, not {type(value).__name__}")
    return bool(value)


def _check_range(value: Any, what: str, low: int, high: int, unit: str = "") -> int:
    number = _as_int(value, what)
    if not low <= number <= high:
        raise out_of_range(what, value, low, high, unit)
    return number


def version() -> int:
    """The library's version number (``Zorbex_GetDllVersion``)."""
    return int(_library.lib().Zorbex_GetDllVersion())


def cameras() -> List[CameraEntry]:
    """Lists the attached cameras: slot, display name and whether a stream uses it.

    A camera is "in use" while some session, in this or another process,
    streams from it; opening it then fails with
    :class:`~zorbex.DeviceUnavailableError`.  Listing changes no camera's
    settings or mode (a camera in trigger mode stays in it).
    """
    return [CameraEntry(*entry) for entry in _session.list_cameras()]


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

    Frames (:meth:`snap`, :meth:`stream`, :meth:`wait_trigger`) are numpy arrays
    (:class:`~zorbex.Frame`) that the caller owns: each is copied once from
    the library and never changes afterwards.

    Every image adjustment value is a property named after it
    (``brightness``, ``gamma``, ``bayer_gain_red`` ...; see
    ``zorbex.ADJUSTMENTS`` for the list, ranges and units).
    """

    # The image adjustment values, properties made from zorbex.ADJUSTMENTS
    # below; declared here so that type checkers know them.
    brightness: int
    contrast: int
    hue: int
    saturation: int
    sharpness: int
    bayer_gain_rgb: int
    bayer_gain_red: int
    bayer_gain_green: int
    bayer_gain_blue: int
    bayer_gain_auto: bool
    gamma: int
    bayer_mode: int
    global_gain: int
    color_gain_red: int
    color_gain_green1: int
    color_gain_green2: int
    color_gain_blue: int
    exposure_time: int
    gray_mode: int
    gray_gain_r: int
    gray_gain_g1: int
    gray_gain_g2: int
    gray_gain_b: int
    gray_offset_r: int
    gray_offset_g1: int
    gray_offset_g2: int
    gray_offset_b: int
    gray_auto_balance: int

    def __init__(self, slot: int = 0) -> None:
        slot = _check_range(slot, "slot", 0, MAX_SLOTS - 1)
        _install_adjustment_properties()
        self._slot = slot
        # Fails now, not at the first frame, when another session streams
        # from the camera; asked of the shared table, since applying the
        # settings to find out would reprogram the camera.
        _session.check_free(slot, f"open camera {slot}")
        self._s = Session(slot)
        self._lib = self._s.lib
        self._callback: Optional[Tuple[Stream, threading.Thread]] = None
        session = self._s
        try:
            if slot != 0:  # a new session starts on slot 0
                self._call(self._lib.Zorbex_SetDeviceNumber, f"open camera {slot}", slot)
            # Frames are announced by message; the library paints no window.
            self._call(self._lib.Zorbex_SetPreviewWindow, "set up the camera", None, 0, 0, 0, 0)
            info = _library.CameraInfo(size=ctypes.sizeof(_library.CameraInfo))
            self._call(self._lib.Zorbex_GetCameraInfo, "read the camera information", byref(info))
            self._info = info
        except BaseException:
            session.close()
            raise

    # --- life cycle -------------------------------------------------------

    def close(self) -> None:
        """Stops any stream, callback or trigger mode and ends the session.
        Safe to call twice, and from any thread: a loop waiting for a frame
        in another thread then ends as after its last frame."""
        self._s.close()

    @property
    def closed(self) -> bool:
        """True after :meth:`close`."""
        return self._s.closed

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self.color_mode} {self.width}x{self.height}"
        return f"<zorbex.Camera slot {self._slot}, {state}>"

    # --- errors -----------------------------------------------------------

    def _h(self) -> int:
        return self._s.h()

    def _error(self, action: str, fallback: int = ERR_NOT_READY) -> ZorbexError:
        return self._s.error(action, fallback)

    def _take_errors(self) -> Tuple[List[int], int]:
        return self._s.take_errors()

    def _call(self, function: Callable[..., int], action: str, *args: Any) -> int:
        return self._s.call(function, action, *args)

    def _get(self, function: Callable[..., int], action: str, *args: Any) -> int:
        return self._s.get(function, action, *args)

    def _value(self, function: Callable[..., int], *args: Any) -> int:
        return self._s.value(function, *args)

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
        (12-bit values in 16 bits per channel); or ``"raw8"`` / ``"raw16"``
        (12-bit values in 16 bits): the undeveloped colour-filter mosaic, one
        sample per pixel, its filter order in each frame's ``bayer``."""
        raw = self._s.raw_mode
        reported = self._value(self._lib.Zorbex_GetColorMode)
        return raw if raw is not None else MODE_BY_REPORTED[reported]

    @color_mode.setter
    def color_mode(self, mode: str) -> None:
        if not isinstance(mode, str):
            raise TypeError(f"color_mode must be a name, not {type(mode).__name__}")
        if mode not in COLOR_MODES and mode not in RAW_MODES:
            names = ", ".join([*COLOR_MODES, *RAW_MODES])
            raise ParameterError(ERR_PARAMETER, "set color_mode",
                                 f"color_mode must be one of {names}, not {mode!r}")
        self._require_idle("set color_mode")
        bits = RAW_MODES[mode] if mode in RAW_MODES else COLOR_MODES[mode][0]
        with self._s.use:
            self._call(self._lib.Zorbex_SetColorMode, "set color_mode", bits)
            self._s.raw_mode = mode if mode in RAW_MODES else None
            self._s.stale = True

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
        self._s.stale = True

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
        return bool(value) if spec.flag else value

    def set_adjustment(self, name: str, value: int) -> None:
        """Sets the adjustment value ``name``; out of range raises ParameterError."""
        spec = self._adjustment(name)
        if spec.flag:
            number = int(_as_bool(value, name))
        elif spec.low is None or spec.high is None:
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

    def set(self, **values: Any) -> None:
        """Sets several values at once, e.g. ``cam.set(gain=3, exposure_us=8000)``.

        Every name must be a setting; when one value is refused, the values
        set before it in the call are put back, so the camera is left as it
        was and the error raised."""
        for name in values:
            if name.startswith("_") or not isinstance(getattr(Camera, name, None), property) \
                    or getattr(Camera, name).fset is None:
                raise TypeError(f"{name!r} is not a setting of the camera")
        before = {name: getattr(self, name) for name in values}
        done: List[str] = []
        try:
            for name, value in values.items():
                setattr(self, name, value)
                done.append(name)
        except BaseException:
            for name in reversed(done):
                try:
                    setattr(self, name, before[name])
                except ZorbexError:
                    pass
            raise

    def _layout(self) -> Tuple[str, int, int, int]:
        mode = self.color_mode
        width, height = self.width, self.height
        return mode, width, height, image_layout(mode, width, height)[1]

    def _image(self, mode: str, width: int, height: int, nbytes: int, action: str
               ) -> np.ndarray[Any, Any]:
        buffer = np.empty(nbytes, dtype=np.uint8)
        with self._s.use:
            if not self._lib.Zorbex_GetImage(self._h(), buffer.ctypes.data, nbytes, 1):
                raise self._error(action)
        return buffer

    def _taken_with(self) -> Dict[str, Any]:
        # A snapshot's exposure and gain: the settings in force when it was taken.
        return {"exposure_us": self.exposure_us, "gain": self.gain}

    def snap(self) -> Frame:
        """Takes one frame now (the camera must not be streaming) and returns it.

        The first snapshot puts the camera in capture mode, which applies
        the settings once; later snapshots take a frame each (gain,
        exposure and mirrors take effect at once, a changed colour mode or
        capture window is applied at the next snapshot)."""
        session = self._s
        if session.raw_mode is not None:
            # The mosaic comes only through the frame queue.
            with self.stream(count=1, strategy="latest") as stream:
                frame = next(stream)
            session.snaps += 1
            frame.number = session.snaps
            return frame
        with session.use:
            h = self._h()
            self._require_idle("take a frame")
            if session.stale:
                session.leave_capture_mode()
            if not session.capture_mode:
                self._call(self._lib.Zorbex_Capture, "take a frame")
                session.capture_mode = True
                session.stale = False
            mode, width, height, nbytes = self._layout()
            buffer = np.empty(nbytes, dtype=np.uint8)
            self._take_errors()
            if not self._lib.Zorbex_SnapShot(h, buffer.ctypes.data, nbytes, 1):
                raise self._error("take a frame")
            stamp = time.monotonic_ns()
            session.snaps += 1
            return as_frame(buffer, mode, width, height, number=session.snaps, timestamp=stamp,
                            **self._taken_with())

    def stream(self, count: Optional[int] = None, timeout: float = 5.0,
               strategy: Optional[str] = None) -> Stream:
        """Starts streaming; iterate over the result for frames.

        Args:
            count: stop after this many frames (``None``: until the loop
                ends or the stream is closed).
            timeout: seconds to wait for each frame before
                :class:`~zorbex.FrameTimeoutError` is raised.
            strategy: ``"all"``: every frame in order (when the loop falls
                behind by more than the frames queued, the newest are
                dropped and counted); ``"latest"``: only the newest frame
                when the loop asks for one.  By default ``"all"`` with a
                ``count``, else ``"latest"``.

        Frames are numpy arrays the library filled (no copy) and the caller
        keeps for as long as it likes: a frame's memory goes back to the
        library only once nothing refers to the frame or to any view of it.
        Keeping frames never costs frames, only memory.

        The stream stops when its ``for`` loop is left in any way
        (``break``, ``return``, an exception, Ctrl-C), at
        :meth:`Stream.close`, at the end of its ``with`` block, when the
        camera is closed, and when nothing refers to it any more; stopping
        frees the camera for other programs at once.  ``close()`` from
        another thread ends a loop waiting for a frame at once, as after its
        last frame.  A camera unplugged while streaming raises
        :class:`~zorbex.DeviceUnavailableError`.
        """
        return Stream(self._s, count, timeout, strategy)

    async def astream(self, count: Optional[int] = None, timeout: float = 5.0,
                      strategy: Optional[str] = None) -> AsyncIterator[Frame]:
        """``async for frame in cam.astream():`` the frames of :meth:`stream`
        for asyncio.  Each wait runs in the event loop's executor, so the
        loop stays free meanwhile; cancelling the task or leaving the loop
        stops the stream."""
        import asyncio  # here: importing it costs every program ~50 ms
        stream = self.stream(count, timeout, strategy)
        loop = asyncio.get_running_loop()
        try:
            while True:
                frame = await loop.run_in_executor(None, stream.next_or_none)
                if frame is None:
                    return
                yield frame
                del frame
        finally:
            stream.close()

    def on_frame(self, callback: Optional[Callable[[Frame], Any]], strategy: str = "latest",
                 timeout: float = 5.0) -> Optional[Stream]:
        """Calls ``callback(frame)`` for each frame until ``on_frame(None)``,
        :meth:`close` or the callback raising; returns the stream.

        The callback runs on a thread of this package, not the caller's:
        the library's frame queue is taken on it, one frame at a time, so a
        slow callback gets the newest frame (``strategy="latest"``) or drops
        frames (``"all"``).  It must not call ``on_frame`` or ``close``
        itself and wait for them.  An exception raised by the callback ends
        the stream and is kept in the returned stream's ``error``.
        """
        previous = self._callback
        self._callback = None
        if previous is not None:
            previous[0].close()
            if previous[1] is not threading.current_thread():
                previous[1].join()
        if callback is None:
            return None
        if not callable(callback):
            raise TypeError(f"callback must be callable, not {callback!r}")
        call = callback
        stream = self.stream(None, timeout, strategy)

        def run() -> None:
            try:
                for frame in stream:
                    call(frame)
                    del frame
            except BaseException as error:  # kept for the caller to look at
                stream.error = error
            finally:
                stream.close()

        thread = threading.Thread(target=run, name=f"zorbex-callback-{self._slot}", daemon=True)
        self._callback = (stream, thread)
        thread.start()
        return stream

    @property
    def streaming(self) -> bool:
        """True while a :meth:`stream` runs."""
        return self._s.stream is not None

    @property
    def trigger_mode(self) -> bool:
        """External trigger mode: each trigger input pulse makes one frame,
        read with :meth:`wait_trigger`."""
        return self._s.trigger_mode

    @trigger_mode.setter
    def trigger_mode(self, flag: bool) -> None:
        on = _as_bool(flag, "trigger_mode")
        session = self._s
        with session.use:
            self._h()
            if on == session.trigger_mode:
                return
            if on:
                if session.stream is not None:
                    raise ZorbexError(ERR_NOT_READY, "switch trigger_mode on",
                                      "stop the stream first")
                session.leave_capture_mode()
                self._discard_frame_messages()
                self._call(self._lib.Zorbex_Trigger, "switch trigger_mode on",
                           session.frames_window, None, 0, 1)
            else:
                self._call(self._lib.Zorbex_StopPreview, "switch trigger_mode off")
            session.trigger_mode = on

    def _discard_frame_messages(self) -> int:
        message = _library.Message()
        count = 0
        while self._lib.ZbxWin_PeekMessage(self._s.frames_window, byref(message), 1):
            count += message.message == _library.MSG_FRAME and message.wparam != 0
        return count

    def wait_trigger(self, timeout: float = 5.0) -> Frame:
        """Waits up to ``timeout`` seconds for the frame of the next pulse on
        the camera's trigger input.

        Needs :attr:`trigger_mode`.  The camera has no software trigger; on
        the virtual camera a test pulses it through the virtual-camera module.
        """
        timeout = timeout_value(timeout, "take a triggered frame")
        self._require_trigger_mode()
        message = _library.Message()
        deadline = time.monotonic() + timeout
        while True:
            # Short waits, so that Ctrl-C is not held up by a long time-out.
            remaining = min(_WAIT_SLICE_MS, max(0, int((deadline - time.monotonic()) * 1000)))
            if not self._lib.ZbxWin_WaitMessage(self._s.frames_window, byref(message), remaining):
                if time.monotonic() < deadline:
                    continue
                raise error_for(ERR_FRAME_TIMEOUT, "take a triggered frame",
                                f"no triggered frame within {timeout} s")
            if message.message != _library.MSG_FRAME:
                continue
            if message.wparam == 0:
                raise error_for(int(message.lparam), "take a triggered frame")
            break
        stamp = time.monotonic_ns()
        mode, width, height, nbytes = self._layout()
        buffer = self._image(mode, width, height, nbytes, "take a triggered frame")
        self._s.snaps += 1
        return as_frame(buffer, mode, width, height, number=self._s.snaps, timestamp=stamp,
                        dropped_before=0, **self._taken_with())

    def _require_idle(self, action: str) -> None:
        # The frame format is fixed while frames flow: the library sizes its
        # buffers only when acquisition starts.
        if self.streaming or self._s.trigger_mode:
            raise ZorbexError(ERR_NOT_READY, action, "stop the stream or trigger mode first")

    def _require_trigger_mode(self) -> None:
        self._h()
        if not self._s.trigger_mode:
            raise ZorbexError(ERR_NOT_READY, "take a triggered frame", "trigger_mode is off")

    # --- files ------------------------------------------------------------

    def save(self, path: PathLike, format: Optional[str] = None) -> None:
        """Saves the last frame the camera delivered as a still image.

        ``format`` is one of ``bmp``, ``raw``, ``jpeg`` (also ``jpeg-high``,
        ``jpeg-low``), ``png``, ``tiff``; by default it follows the file's
        extension.  Raw files hold the pixel rows, top row first, each padded
        to 4 bytes.
        """
        h = self._h()
        encoded = _file_name(path, "save")
        filename = os.fsdecode(encoded)
        if format is None:
            format = os.path.splitext(filename)[1].lstrip(".").lower()
        if not isinstance(format, str) or format.lower() not in FILE_FORMATS:
            raise ParameterError(ERR_PARAMETER, f"save {filename}",
                                 f"the format must be one of {', '.join(sorted(FILE_FORMATS))}, "
                                 f"not {format!r}")
        with self._s.use:
            self._take_errors()
            if not self._lib.Zorbex_SaveImage(h, encoded, FILE_FORMATS[format.lower()]):
                error = self._error(f"save {filename}", fallback=0)
                if error.code:
                    raise error
                # Writers report failure by the result alone.
                raise ZorbexError(ERR_FILE, f"save {filename}", "the file could not be written")

    def record(self, path: PathLike, seconds: float) -> int:
        """Records ``seconds`` of the stream into an uncompressed 24-bit AVI
        file and returns the number of frames written.  Blocks meanwhile;
        the camera must not be streaming or in trigger mode."""
        h = self._h()
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
            raise TypeError(f"seconds must be a number, not {type(seconds).__name__}")
        if not math.isfinite(seconds) or not 0 < seconds <= 2**31 / 1000:
            raise out_of_range("seconds", seconds, 0, 2**31 // 1000, "s")
        filename = _file_name(path, "record")
        with self._s.use:
            self._require_idle("record")
            self._s.leave_capture_mode()
            self._take_errors()
            if not self._lib.Zorbex_Record(h, filename, int(seconds * 1000), 0):
                raise self._error(f"record {os.fsdecode(filename)}")
        try:
            # The recorder finishes the file at the first frame after the
            # duration; stopping finishes it too.
            time.sleep(seconds + 0.1)
        finally:
            with self._s.use:
                if not self._s.closed:
                    self._lib.Zorbex_StopPreview(h)
                    self._s.drain_notifications()
        with open(filename, "rb") as avi:
            header = avi.read(52)
        return int(struct.unpack_from("<I", header, 48)[0]) if len(header) == 52 else 0


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


def _install_adjustment_properties() -> None:
    """One property per adjustment value of the library's table."""
    for spec in ADJUSTMENTS:
        if not hasattr(Camera, spec.name):
            setattr(Camera, spec.name, _adjustment_property(spec))


# The names come from the library: at import when it loads, else when the
# first camera opens.
try:
    _install_adjustment_properties()
except _library.LibraryNotFoundError:
    pass
