"""Streams: frames from the library's frame queue as numpy arrays.

The queue fills memory that this package lends it: numpy blocks, each
known by its number (the ``user`` value the queue hands back with every
frame), never by comparing arrays.  A frame handed out is a view of its
block; the block goes back to the queue (``ZbxStream_Release``) once nothing
refers to the frame or to any view of it, on whichever thread drops the last
reference.  While the program keeps frames, the stream lends the queue a
fresh block whenever fewer than a few are left to fill, so keeping frames
costs memory, never frames; near the queue's limit of 1024 blocks a kept
frame is handed out as a copy and its block goes back at once.
"""
from __future__ import annotations

import ctypes
import math
import threading
import weakref
from ctypes import POINTER, byref, c_uint8, c_void_p
from time import monotonic
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, Optional

import numpy as np

from . import _library
from ._library import (DELIVER_ALL, DELIVER_LATEST, OUTPUT_DEVELOPED, OUTPUT_RAW, QUEUE_CANCELLED,
                       QUEUE_ENDED, QUEUE_INVALID_HANDLE, QUEUE_MAX_BUFFERS, QUEUE_OK,
                       QUEUE_TIMEOUT, QueueFrame)
from .errors import (ERR_DEVICE_UNAVAILABLE, ERR_FRAME_TIMEOUT, ERR_NOT_READY, ERR_PARAMETER,
                     ParameterError, ZorbexError, error_for)
from .frame import BAYER_ORDERS, FORMATS, Frame, geometry

if TYPE_CHECKING:
    from ._session import Session

#: Frame choices of :meth:`Camera.stream`.
STRATEGIES = {"all": DELIVER_ALL, "latest": DELIVER_LATEST}

# Waits are cut into slices so that Ctrl-C is seen between them.
_WAIT_SLICE_MS = 100
# Blocks lent at the start (the loop variable holds one while the next is
# awaited, so four are left to fill, as in a C loop on four buffers), and
# the least number the queue keeps to fill.
_FIRST_BLOCKS = 5
_SPARE_BLOCKS = 3
_new_frame = np.ndarray.__new__


class _End(Exception):
    """The stream ended normally (closed, count reached, camera stopped)."""


def count_value(count: Any) -> Optional[int]:
    if count is None:
        return None
    if isinstance(count, bool) or not isinstance(count, (int, float, np.integer, np.floating)):
        raise TypeError(f"count must be None or a whole number of frames, not {count!r}")
    if isinstance(count, (float, np.floating)):
        if not math.isfinite(count) or count < 0:
            raise ParameterError(ERR_PARAMETER, "start streaming",
                                 f"count must be 0 or more frames, not {count!r}")
        if not float(count).is_integer():
            raise TypeError(f"count must be a whole number of frames, not {count!r}")
    if count < 0:
        raise ParameterError(ERR_PARAMETER, "start streaming",
                             f"count must be 0 or more frames, not {count!r}")
    return int(count)


def timeout_value(value: Any, action: str) -> float:
    """A time-out in seconds: a positive, finite number."""
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"timeout must be a number of seconds, not {value!r}")
    try:
        seconds = float(value)
    except OverflowError:
        seconds = math.inf
    if not (math.isfinite(seconds) and seconds > 0):
        raise ParameterError(ERR_PARAMETER, action,
                             f"timeout must be a positive, finite number of seconds, not {value!r}")
    return seconds


class _Queue:
    """The queue handle and the blocks lent to it.  Frames refer to this
    (through their release callbacks), never to the Stream, so kept frames
    do not keep a stream running."""

    def __init__(self, lib: Any, pointer: int) -> None:
        self.lib = lib
        self.pointer = pointer
        self.lock = threading.Lock()
        self.blocks: List[np.ndarray[Any, Any]] = []  # by number, the queue's `user` value
        self.block_type: Any = None
        self.held = 0         # frames handed out and not yet given back
        self.closed = False
        # The live release watches (weak references with callbacks need an owner).
        self.watches: Dict[int, "weakref.ReferenceType[Any]"] = {}  # by frame address
        self.releasers: Dict[int, Callable[[Any], None]] = {}
        self.dropped_copies = 0

    def lend(self, size: int) -> bool:
        """Lends the queue a fresh block; False at the queue's limit."""
        if len(self.blocks) >= QUEUE_MAX_BUFFERS:
            return False
        # Zeroed: the library leaves the fourth (x) channel of bgra32 and
        # bgra64 frames it develops into a queue buffer unwritten, where
        # snapshots hold 0.  Fresh zeroed pages cost nothing up front.
        block = np.zeros(size, dtype=np.uint8)
        number = len(self.blocks)
        code = self.lib.ZbxStream_AddBuffer(self.pointer, block.ctypes.data, size, number + 1)
        if code != QUEUE_OK:
            return False
        self.blocks.append(block)
        return True

    def releaser(self, frame_address: int) -> Callable[[Any], None]:
        """The callback that gives a frame back once nothing refers to it;
        one per frame record (the queue reuses its records with its buffers)."""
        def release(watch: Any) -> None:
            # Runs on the thread that dropped the frame's last reference.
            self.watches.pop(frame_address, None)
            with self.lock:
                self.held -= 1
            self.lib.ZbxStream_Release(self.pointer, frame_address)
        return release

    def close(self) -> None:
        with self.lock:
            if self.closed:
                return
            self.closed = True
        self.lib.ZbxStream_Close(self.pointer)
        # Blocks that hold kept frames live on in those frames; the rest
        # are the program's again now that Close has returned.
        self.blocks = []


class Stream:
    """A running stream of frames (see :meth:`Camera.stream`).

    Iterate over it with ``for``, or take frames with ``next()``.

    When it stops: at the end of ``count`` frames; when its ``for`` loop is
    left in any way (``break``, ``return``, an exception, Ctrl-C); at
    :meth:`close` or the end of its ``with`` block, from any thread (a loop
    waiting for a frame then ends at once, as after its last frame); when its
    camera is closed; when nothing refers to it any more.  A stream stopped
    gives no more frames.  Frames already handed out stay valid.

    Attributes:
        frames: frames handed out so far.
        dropped: frames lost before those handed out (the sum of their
            ``dropped_before``).
        strategy: ``"all"`` or ``"latest"``.
        color_mode, width, height: the frames' layout.
    """

    def __init__(self, session: "Session", count: Any = None, timeout: Any = 5.0,
                 strategy: Optional[str] = None) -> None:
        self._count = count_value(count)
        self._timeout = timeout_value(timeout, "start streaming")
        if strategy is None:
            strategy = "latest" if self._count is None else "all"
        if strategy not in STRATEGIES:
            raise ParameterError(ERR_PARAMETER, "start streaming",
                                 f"strategy must be 'all' or 'latest', not {strategy!r}")
        self.strategy = strategy
        #: What ended a callback's stream (Camera.on_frame): the callback's exception.
        self.error: Optional[BaseException] = None
        self.frames = 0
        self.dropped = 0
        self.running = False
        self._session = session
        self._lock = threading.Lock()
        lib = session.lib
        self._lib = lib
        with session.use:
            h = session.h()
            if session.stream is not None or session.trigger_mode:
                raise ZorbexError(ERR_NOT_READY, "start streaming",
                                  "the camera already streams or is in trigger mode")
            session.leave_capture_mode()
            config = _library.StreamConfig(
                struct_size=ctypes.sizeof(_library.StreamConfig), buffer_count=0,
                delivery=STRATEGIES[strategy],
                output=OUTPUT_RAW if session.raw_mode else OUTPUT_DEVELOPED, trigger=0)
            pointer = c_void_p()
            code = lib.ZbxStream_Open(h, byref(config), byref(pointer))
            if code != QUEUE_OK:
                raise self._queue_error(code, "start streaming")
            queue = _Queue(lib, int(pointer.value or 0))
            self._queue = queue
            # Closes the queue when the stream is dropped without close().
            self._finalizer = weakref.finalize(self, queue.close)
            try:
                layout = _library.FrameFormat()
                code = lib.ZbxStream_GetFormat(queue.pointer, byref(layout))
                if code != QUEUE_OK:
                    raise self._queue_error(code, "start streaming")
                self._size = int(layout.size)
                self.width, self.height = int(layout.width), int(layout.height)
                self.color_mode, dtype, channels = FORMATS[layout.format]
                self._bayer = BAYER_ORDERS.get(layout.bayer)
                self._shape, self._dtype, self._strides = geometry(
                    dtype, channels, self.width, self.height, int(layout.stride))
                queue.block_type = c_uint8 * self._size
                for _ in range(_FIRST_BLOCKS):
                    if not queue.lend(self._size):
                        raise error_for(ERR_NOT_READY, "start streaming",
                                        "the frame queue took no buffer")
                session.take_errors()
                code = lib.ZbxStream_Start(queue.pointer)
                if code != QUEUE_OK:
                    raise self._queue_error(code, "start streaming")
            except BaseException:
                self._finalizer()
                raise
            self.running = True
            session.attach(self)
        self._frame_ptr = POINTER(QueueFrame)()
        self._frame_ref = byref(self._frame_ptr)
        self._wait = lib.ZbxStream_Wait

    # --- errors -------------------------------------------------------------

    def _queue_error(self, code: int, action: str) -> ZorbexError:
        if code == 0 or code >= QUEUE_TIMEOUT:
            return error_for(code or ERR_NOT_READY, action)
        return self._session.error(action, fallback=code)

    def _run_error(self) -> Optional[ZorbexError]:
        """Why the camera stopped streaming into the queue: None when it was
        stopped on request, else the error."""
        stats = _library.StreamStats()
        if self._lib.ZbxStream_GetStats(self._queue.pointer, byref(stats)) != QUEUE_OK:
            return None
        code = int(stats.last_error)
        if code in (QUEUE_OK, QUEUE_CANCELLED, QUEUE_ENDED, QUEUE_INVALID_HANDLE):
            return None
        if code == ERR_FRAME_TIMEOUT and not self._session.present():
            # The camera is gone, not only slow.
            return error_for(ERR_DEVICE_UNAVAILABLE, "receive a frame",
                             f"camera {self._session.slot} was unplugged")
        return error_for(code, "receive a frame")

    # --- frames -------------------------------------------------------------

    def __iter__(self) -> Iterator[Frame]:
        return self._loop()

    def _loop(self) -> Iterator[Frame]:
        # A generator, so that leaving the loop (break, return, exception)
        # drops it and its `finally` stops the stream, also when the stream
        # itself is still referred to (a name, a traceback).
        take = self._take
        try:
            while True:
                yield take()
        except _End:
            return
        finally:
            self.close()

    def __next__(self) -> Frame:
        try:
            return self._take()
        except _End:
            raise StopIteration from None

    def _take(self) -> Frame:
        if self._count is not None and self.frames >= self._count:
            self.close()
            raise _End
        if not self.running:
            raise _End
        try:
            return self._wait_frame()
        except _End:
            self.close()
            raise
        except BaseException:
            # Ctrl-C or a failure: a traceback kept by a notebook must not
            # keep the camera streaming.
            self.close()
            raise

    def _wait_frame(self) -> Frame:
        queue = self._queue
        pointer = queue.pointer
        frame_ref = self._frame_ref
        # Taken before the wait: a close() on another thread meanwhile drops
        # the queue's list, not the blocks of a frame already on its way.
        blocks = queue.blocks
        deadline = 0.0
        while True:
            code = self._wait(pointer, _WAIT_SLICE_MS, frame_ref)
            if code == QUEUE_OK:
                break
            if not self.running or self._session.closed:
                raise _End  # closed by another thread
            if code == QUEUE_TIMEOUT:
                now = monotonic()
                if not deadline:
                    deadline = now + self._timeout - _WAIT_SLICE_MS / 1000
                elif now >= deadline:
                    if not self._session.present():
                        raise error_for(ERR_DEVICE_UNAVAILABLE, "receive a frame",
                                        f"camera {self._session.slot} was unplugged")
                    raise error_for(ERR_FRAME_TIMEOUT, "receive a frame",
                                    f"no frame within {self._timeout} s")
                continue
            if code in (QUEUE_CANCELLED, QUEUE_ENDED, QUEUE_INVALID_HANDLE):
                error = self._run_error() if code == QUEUE_ENDED else None
                if error is not None:
                    raise error
                raise _End
            if code == ERR_FRAME_TIMEOUT and not self._session.present():
                raise error_for(ERR_DEVICE_UNAVAILABLE, "receive a frame",
                                f"camera {self._session.slot} was unplugged")
            raise error_for(code, "receive a frame")
        record = self._frame_ptr.contents
        address = ctypes.addressof(record)
        number = int(record.user or 0) - 1
        meta = {"number": record.sequence, "timestamp": record.timestamp_ns,
                "exposure_us": record.exposure_us, "gain": record.gain,
                "dropped_before": record.dropped, "color_mode": self.color_mode}
        if self._bayer is not None:
            meta["bayer"] = self._bayer
        del record
        block = blocks[number]
        with queue.lock:
            queue.held += 1
            short = len(queue.blocks) - queue.held < _SPARE_BLOCKS
        if short and not queue.lend(self._size):
            # At the queue's limit: this frame is handed out as a copy and
            # its block goes back at once, so the stream keeps its rate.
            frame = _new_frame(Frame, self._shape, self._dtype, block, 0, self._strides).copy()
            with queue.lock:
                queue.held -= 1
            self._lib.ZbxStream_Release(pointer, address)
        else:
            memory = queue.block_type.from_buffer(block)
            release = queue.releasers.get(address)
            if release is None:
                release = queue.releasers[address] = queue.releaser(address)
            # A dict store is atomic: the callback's pop needs no lock with it.
            queue.watches[address] = weakref.ref(memory, release)
            frame = _new_frame(Frame, self._shape, self._dtype, memory, 0, self._strides)
            del memory
        frame.__dict__.update(meta)
        self.frames += 1
        self.dropped += meta["dropped_before"]
        return frame

    def next_or_none(self) -> Optional[Frame]:
        """The next frame, or None when the stream has ended."""
        try:
            return self._take()
        except _End:
            return None

    # --- state --------------------------------------------------------------

    def stats(self) -> Dict[str, int]:
        """The queue's counts: frames delivered and dropped, frames queued and
        held, buffers lent."""
        stats = _library.StreamStats()
        if self._lib.ZbxStream_GetStats(self._queue.pointer, byref(stats)) != QUEUE_OK:
            return {}
        return {name: int(getattr(stats, name))
                for name in ("delivered", "dropped", "queued", "held", "buffers")}

    def close(self) -> None:
        """Stops the stream; a loop waiting in another thread ends at once.
        Safe to call twice and from any thread."""
        with self._lock:
            if not self.running:
                if self._finalizer.alive:
                    self._finalizer()
                return
            self.running = False
        # Wake a waiting loop first: it sees `running` false and ends.
        self._lib.ZbxStream_Cancel(self._queue.pointer)
        self._finalizer()
        session = self._session
        if session.stream_slot[0] is not None and session.stream_slot[0]() is self:
            session.attach(None)
        if not session.closed:
            with session.use:
                if not session.closed:
                    session.take_errors()

    def __enter__(self) -> "Stream":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "running" if self.running else "stopped"
        return (f"<zorbex.Stream {self.color_mode} {self.width}x{self.height}, "
                f"{self.strategy}, {state}, {self.frames} frames>")
