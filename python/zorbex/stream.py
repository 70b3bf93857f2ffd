"""A running stream of frames from a camera."""
from __future__ import annotations

import time
import weakref
from ctypes import byref
from typing import TYPE_CHECKING, Any, Iterator, Optional

import numpy as np

from . import _library
from .errors import ERR_FRAME_TIMEOUT, ERR_NOT_READY, ZorbexError, error_for
from .frame import Frame, as_frame

if TYPE_CHECKING:
    from .camera import Camera

_WAIT_SLICE_MS = 100


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
        self._count = count
        self._timeout = timeout
        self.frames = 0
        self.dropped = 0
        self.failed = 0
        self._announced = 0
        self.mode, self.width, self.height, self._nbytes = camera._layout()
        camera._discard_frame_messages()
        self._message = _library.Message()
        self._message_ref = byref(self._message)
        self._window = camera._frames
        camera._take_errors()
        if not self._lib.Zorbex_CallBackPreview(h, self._window, None, 0, 1):
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
            if message.message == _library.MSG_FRAME:
                if message.wparam:
                    break
                self._failure(int(message.lparam))
        self._announced += 1
        skipped = 0
        # Frames announced meanwhile: only the newest one's pixels are there.
        peek = lib.ZbxWin_PeekMessage
        while peek(window, ref, 1):
            if message.message == _library.MSG_FRAME:
                if message.wparam:
                    skipped += 1
                else:
                    self._failure(int(message.lparam))
        self._announced += skipped
        self.dropped += skipped
        buffer = np.empty(self._nbytes, dtype=np.uint8)
        if not lib.Zorbex_GetImage(self._camera._handle, buffer.ctypes.data, self._nbytes, 1):
            error = self._camera._error("receive a frame")
            self.close()
            raise error
        self.frames += 1
        return as_frame(buffer, self.mode, self.width, self.height, self._announced,
                        time.monotonic(), skipped)

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
