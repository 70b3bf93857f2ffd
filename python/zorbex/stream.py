"""A running stream of frames from a camera."""
from __future__ import annotations

import time
import weakref
from ctypes import byref, c_void_p
from typing import TYPE_CHECKING, Any, Iterator, Optional

import numpy as np

from . import _library
from .errors import ERR_FRAME_TIMEOUT, ERR_NOT_READY, ZorbexError, error_for
from .frame import Frame, frame_geometry

if TYPE_CHECKING:
    from .camera import Camera

_WAIT_SLICE_MS = 100
# Offset of the caller-buffer pointer in the frame record a frame message points to.
_RECORD_BUFFER_OFFSET = 24


class Stream:
    """A running stream of frames; iterate over it (see :meth:`Camera.stream`).

    Attributes:
        frames: frames handed out so far.
        dropped: frames the library announced that were skipped because
            they came faster than the loop took them.
        failed: frames the library could not read.
    """

    def __init__(self, camera: Camera, count: Optional[int], timeout: float) -> None:
        if count is not None:
            if isinstance(count, bool) or not isinstance(count, (int, np.integer)) or count < 0:
                raise TypeError("count must be None or a whole number of frames")
        if isinstance(timeout, bool) or not isinstance(timeout, (int, float)) or timeout <= 0:
            raise TypeError("timeout must be a positive number of seconds")
        h = camera._h()
        if camera.streaming or camera.trigger_mode:
            raise ZorbexError(ERR_NOT_READY, "start streaming",
                              "the camera already streams or is in trigger mode")
        self._camera = camera
        self._lib = camera._lib
        self._handle = h
        self._count = count
        self._timeout = timeout
        self.frames = 0
        self.dropped = 0
        self.failed = 0
        self._announced = 0
        self.mode, self.width, self.height, self._nbytes = camera._layout()
        self._shape, self._dtype, self._strides = frame_geometry(self.mode, self.width, self.height)
        camera._discard_frame_messages()
        self._message = _library.Message()
        self._message_ref = byref(self._message)
        self._window = camera._frames
        # The library develops each frame straight into a buffer of ours.
        # A filled one is handed out only after the library has been given
        # a fresh one, so no frame handed out is ever written again.
        self._target = np.empty(self._nbytes, dtype=np.uint8)
        self._target_address = self._target.ctypes.data
        # The caller-buffer pointer of the frame record: which buffer the
        # newest frame went into (None until the first frame message).  It
        # may name an older stream's buffer until this stream's first frame
        # message, which only comes once a frame here has rewritten it.
        self._record_buffer: Optional[c_void_p] = None
        # The library keeps the address it was given, even after the stream
        # ends: the camera holds on to that buffer.
        camera._library_buffer = self._target
        camera._take_errors()
        if not self._lib.Zorbex_CallBackPreview(h, self._window, self._target_address,
                                                self._nbytes, 1):
            raise camera._error("start streaming")
        self.running = True
        camera._stream = weakref.ref(self)

    def __iter__(self) -> Iterator[Frame]:
        return self

    def __next__(self) -> Frame:
        if not self.running:
            raise StopIteration
        if self._count is not None and self.frames >= self._count:
            self.close()
            raise StopIteration
        lib = self._lib
        message = self._message
        ref = self._message_ref
        window = self._window
        wait = lib.ZbxWin_WaitMessage
        peek = lib.ZbxWin_PeekMessage
        target = self._target_address
        announced = 0
        deadline = time.monotonic() + self._timeout
        while True:
            # Short waits, so that Ctrl-C is not held up by a long time-out.
            remaining = min(_WAIT_SLICE_MS, max(0, int((deadline - time.monotonic()) * 1000)))
            if not wait(window, ref, remaining):
                if time.monotonic() < deadline:
                    continue
                self.close()
                raise error_for(ERR_FRAME_TIMEOUT, "receive a frame",
                                f"no frame within {self._timeout} s")
            # This message and every one queued behind it.
            while True:
                if message.message == _library.MSG_FRAME:
                    if message.wparam:
                        announced += 1
                        if self._record_buffer is None:
                            self._record_buffer = c_void_p.from_address(
                                message.wparam + _RECORD_BUFFER_OFFSET)
                    else:
                        self._failure(int(message.lparam))
                if not peek(window, ref, 1):
                    break
            # A message may announce a frame that went into the buffer
            # handed out before: only once the record names the current
            # buffer has a frame been started in it.  Handing that buffer
            # over waits (under the library's frame lock) until the frame
            # is complete.
            record = self._record_buffer
            if announced and record is not None and record.value == target:
                break
        filled = self._target
        fresh = np.empty(self._nbytes, dtype=np.uint8)
        address = fresh.ctypes.data
        if not lib.Zorbex_CallBackPreview(self._handle, window, address, self._nbytes, 1):
            # Either buffer may be the library's now.
            self._camera._library_buffer = (filled, fresh)
            error = self._camera._error("receive a frame")
            self.close()
            raise error
        self._target = fresh
        self._target_address = address
        self._camera._library_buffer = fresh
        self._announced += announced
        self.dropped += announced - 1
        self.frames += 1
        frame = np.ndarray.__new__(Frame, self._shape, self._dtype, filled, 0, self._strides)
        frame.number = self._announced
        frame.timestamp = time.monotonic()
        frame.color_mode = self.mode
        frame.dropped = announced - 1
        return frame

    def _failure(self, code: int) -> None:
        self.failed += 1
        if code == ERR_FRAME_TIMEOUT:
            # The library has ended the stream.
            self.close()
            raise error_for(code, "receive a frame")

    def close(self) -> None:
        """Stops the stream.  Safe to call twice."""
        if not self.running:
            return
        self.running = False
        camera = self._camera
        if not camera.closed:
            self._lib.Zorbex_StopPreview(camera._handle)
            camera._take_errors()
        camera._stream = None

    def __enter__(self) -> "Stream":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass
