"""A running stream of frames from a camera."""
from __future__ import annotations

import weakref
from ctypes import byref, c_void_p
from sys import getrefcount
from time import monotonic
from typing import TYPE_CHECKING, Any, Iterator, List, Optional

import numpy as np

from . import _library
from .errors import ERR_FRAME_TIMEOUT, ERR_NOT_READY, ZorbexError, error_for
from .frame import Frame, frame_geometry

if TYPE_CHECKING:
    from .camera import Camera

_WAIT_SLICE_MS = 100
# Offset of the caller-buffer pointer in the frame record a frame message points to.
_RECORD_BUFFER_OFFSET = 24
# Buffers a stream recycles: the library's, the one handed out last, the
# one before it (a loop variable still holds it while the next frame is
# taken), and one to spare.  Frames kept longer get buffers of their own.
_POOL_SIZE = 4
_new_frame = np.ndarray.__new__


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
        self._number = 0
        self.mode, self.width, self.height, self._nbytes = camera._layout()
        self._shape, self._dtype, self._strides = frame_geometry(self.mode, self.width, self.height)
        camera._discard_frame_messages()
        self._message = _library.Message()
        self._message_ref = byref(self._message)
        self._window = camera._frames
        self._peek = self._lib.ZbxWin_PeekMessage
        self._wait = self._lib.ZbxWin_WaitMessage
        self._hand_over = self._lib.Zorbex_CallBackPreview
        # The library develops each frame straight into a buffer of ours.
        # A filled one is handed out only after the library has been given
        # a fresh one, so no frame handed out is ever written again.  Buffers
        # are recycled once nothing but the pool refers to them (no frame,
        # no view of one): their pages stay mapped and warm in the caches.
        self._pool: List[np.ndarray] = []
        self._pool_addresses: List[int] = []
        self._target, self._target_address = self._fresh_buffer()
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

    def _fresh_buffer(self) -> "tuple[np.ndarray, int]":
        """A buffer for the library to fill next, and its address: a pooled
        one that no frame refers to any more, else a new one."""
        pool = self._pool
        for i in range(len(pool)):
            # The pool's own reference and the call's argument: nobody else.
            if getrefcount(pool[i]) == 2:
                return pool[i], self._pool_addresses[i]
        buffer = np.empty(self._nbytes, dtype=np.uint8)
        address = buffer.ctypes.data
        if len(pool) < _POOL_SIZE:
            pool.append(buffer)
            self._pool_addresses.append(address)
        return buffer, address

    def __next__(self) -> Frame:
        if not self.running:
            raise StopIteration
        if self._count is not None and self.frames >= self._count:
            self.close()
            raise StopIteration
        target = self._target_address
        # Messages already queued: counted, and failures raised, first.
        announced = self._take_messages(self._peek(self._window, self._message_ref, 1))
        record = self._record_buffer
        # Once a frame has been handed out, the record names the current
        # buffer only after a frame of this stream was started in it: no
        # need to wait for that frame's message, which would cost a wake-up.
        if not (self.frames and record is not None and record.value == target):
            announced += self._wait_for_frame(announced)
        # A frame was started in the current buffer.  Handing the library a
        # fresh one waits (under its frame lock) until that frame is complete;
        # after that the library never writes to the filled buffer again.
        filled = self._target
        fresh, address = self._fresh_buffer()
        if not self._hand_over(self._handle, self._window, address, self._nbytes, 1):
            # Either buffer may be the library's now.
            self._camera._library_buffer = (filled, fresh)
            error = self._camera._error("receive a frame")
            self.close()
            raise error
        self._target = fresh
        self._target_address = address
        self._camera._library_buffer = fresh
        # The message of a frame handed out may come after it: a frame's
        # number is at least one more than the one before.
        self._announced += announced
        number = self._announced
        if number <= self._number:
            number = self._number + 1
        skipped = number - self._number - 1
        self._number = number
        self.dropped += skipped
        self.frames += 1
        frame = _new_frame(Frame, self._shape, self._dtype, filled, 0, self._strides)
        frame.number = number
        frame.timestamp = monotonic()
        frame.color_mode = self.mode
        frame.dropped = skipped
        return frame

    def _wait_for_frame(self, announced: int) -> int:
        """Waits until a frame of this stream was started in the current
        buffer; returns the frame messages taken meanwhile."""
        wait = self._wait
        window = self._window
        ref = self._message_ref
        target = self._target_address
        taken = 0
        deadline = monotonic() + self._timeout
        while True:
            record = self._record_buffer
            # Until a frame message of this stream has come, the record
            # may still name an older stream's buffer.
            if (announced + taken or self.frames) and record is not None and record.value == target:
                return taken
            # Short waits, so that Ctrl-C is not held up by a long time-out.
            remaining = min(_WAIT_SLICE_MS, max(0, int((deadline - monotonic()) * 1000)))
            if wait(window, ref, remaining):
                taken += self._take_messages(True)
            elif monotonic() >= deadline:
                self.close()
                raise error_for(ERR_FRAME_TIMEOUT, "receive a frame",
                                f"no frame within {self._timeout} s")

    def _take_messages(self, have_one: bool) -> int:
        """Frame messages among the one just read (when ``have_one``) and all
        queued behind it; failures are counted and a lost stream raised."""
        message = self._message
        ref = self._message_ref
        peek = self._peek
        window = self._window
        announced = 0
        while have_one:
            if message.message == _library.MSG_FRAME:
                if message.wparam:
                    announced += 1
                    if self._record_buffer is None:
                        self._record_buffer = c_void_p.from_address(
                            message.wparam + _RECORD_BUFFER_OFFSET)
                else:
                    self._failure(int(message.lparam))
            have_one = bool(peek(window, ref, 1))
        return announced

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
