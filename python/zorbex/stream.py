"""A running stream of frames from a camera."""
from __future__ import annotations

import threading
import weakref
from ctypes import byref, c_uint8, c_void_p
from sys import getrefcount
from time import monotonic
from typing import TYPE_CHECKING, Any, Callable, Iterator, List, NoReturn, Optional

import numpy as np

from . import _library
from .camera import _as_timeout
from .errors import ERR_FRAME_TIMEOUT, ERR_NOT_READY, ZorbexError, error_for
from .frame import Frame, frame_geometry

if TYPE_CHECKING:
    from .camera import Camera

_WAIT_SLICE_MS = 100
# Offset of the caller-buffer pointer in the frame record a frame message points to.
_RECORD_BUFFER_OFFSET = 24
# Free blocks a stream keeps for reuse; blocks released beyond these are freed.
_SPARE_BLOCKS = 2
_new_frame = np.ndarray.__new__


def _releaser(stream: "weakref.ReferenceType[Stream]", index: int) -> Callable[[object], None]:
    """The callback for when nothing refers to the frame in block ``index``
    any more; holds the stream weakly, so frames never keep it alive."""
    def released(_: object) -> None:
        owner = stream()
        if owner is not None:
            owner._released(index)
    return released


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
        timeout = _as_timeout(timeout, "start streaming")
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
        self.running = False
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
        self._call_back = self._lib.Zorbex_CallBackPreview
        # The library develops each frame straight into a block of memory of
        # ours.  A filled block is handed out (as the memory of a frame) only
        # after the library has been told to use another block or none, so
        # no frame handed out is ever written again.  A block comes back
        # once nothing refers to its frame any more (no frame, no view of
        # one): its pages stay mapped and warm in the caches.
        self._self_ref = weakref.ref(self)
        self._lock = threading.RLock()  # release callbacks run on any thread
        self._block_type = c_uint8 * self._nbytes
        self._blocks: List[Optional[np.ndarray]] = []
        self._addresses: List[int] = []
        self._watches: List[Optional["weakref.ReferenceType[Any]"]] = []
        self._releasers: List[Callable[[object], None]] = []
        self._free: List[int] = []
        # The block the library copies frames into; None: the library was
        # given none (the frames it develops meanwhile count as dropped).
        self._target: Optional[int] = None
        # The frame handed out last, while it lives.
        self._last: Optional["weakref.ReferenceType[Frame]"] = None
        # Where the frame record keeps the caller-buffer pointer: which
        # buffer the newest frame went into (None until the first frame
        # message).  It may name an older stream's buffer until this
        # stream's first frame message, which only comes once a frame here
        # has rewritten it.  The record is the session's memory: read only
        # through _named_by_record.
        self._record_field: Optional[c_void_p] = None
        camera._take_errors()
        if not self._give(self._take_block()):
            raise camera._error("start streaming")
        self.running = True
        camera._stream_slot[0] = weakref.ref(self)

    def __iter__(self) -> Iterator[Frame]:
        return self

    # --- blocks -------------------------------------------------------------

    def _named_by_record(self) -> Optional[int]:
        """The address the frame record names: that of the block the newest
        frame went into.  Such a block must not be given to the library
        again before another frame has gone elsewhere, or the record would
        name it at once and its old frame be taken for a new one."""
        field = self._record_field
        if field is None:
            return None
        # The session (and the record with it) is released only after the
        # stream has stopped, which takes this lock: read while running.
        with self._lock:
            return field.value if self.running else None

    def _take_block(self) -> int:
        """A free block (the one freed last first, the warmest), else a new one."""
        free = self._free
        named = self._named_by_record()
        for i in range(len(free) - 1, -1, -1):
            if self._addresses[free[i]] != named:
                return free.pop(i)
        block = np.empty(self._nbytes, dtype=np.uint8)
        if named is not None and block.ctypes.data == named:
            # Memory of a block freed since may come back at the named
            # address: another allocation while this one is still held.
            block = np.empty(self._nbytes, dtype=np.uint8)
        try:
            index = self._blocks.index(None)
        except ValueError:
            index = len(self._blocks)
            self._blocks.append(None)
            self._addresses.append(0)
            self._watches.append(None)
            self._releasers.append(_releaser(self._self_ref, index))
        self._blocks[index] = block
        self._addresses[index] = block.ctypes.data
        return index

    def _give(self, index: Optional[int]) -> bool:
        """Tells the library to copy the next frames into block ``index``
        (None: into no buffer).  Waits while the library copies a frame into
        the block it had; after that it never writes that block again."""
        camera = self._camera
        block = None if index is None else self._blocks[index]
        # The library keeps the address it was given, even after the stream
        # ends: the camera holds on to that block.  After a failure either
        # block may be the library's.
        previous = camera._library_buffer
        camera._library_buffer = (previous, block)
        if not self._call_back(self._handle, self._window,
                               None if index is None else self._addresses[index], self._nbytes, 1):
            return False
        camera._library_buffer = block
        self._target = index
        return True

    def _released(self, index: int) -> None:
        """Nothing refers to the frame in block ``index`` any more (called on
        whichever thread dropped the last reference)."""
        try:
            with self._lock:
                self._watches[index] = None
                # The library has no block: this one, at once, so that the
                # frames the loop has not asked for yet are not lost.
                if (self._target is None and self.running and not self._camera.closed
                        and self._addresses[index] != self._named_by_record()):
                    if self._give(index):
                        return
                if len(self._free) < _SPARE_BLOCKS:
                    self._free.append(index)
                else:
                    self._blocks[index] = None
        except Exception:  # a callback: nobody to raise to; __next__ reports it
            pass

    def _next_block(self) -> Optional[int]:
        """The block for the library while the frame just filled is out.

        None when the frame handed out before looks held by one name only
        (as a loop variable is): its block comes back as soon as the loop
        moves on, and the library gets it then (two blocks in turn, as few
        as a consumer that keeps each frame can have).  Otherwise (frames
        kept in a list, a view taken, ...) a free or new block."""
        last = self._last() if self._last is not None else None
        # References: one name, `last` here and the call's argument; to the
        # frame's memory: the frame's own and the call's argument.
        if last is not None and getrefcount(last) == 3 and getrefcount(last.base) == 2:
            return None
        return self._take_block()

    # --- frames -------------------------------------------------------------

    def __next__(self) -> Frame:
        if not self.running:
            raise StopIteration
        if self._count is not None and self.frames >= self._count:
            self.close()
            raise StopIteration
        with self._lock:
            self._still_running()
            # The frame handed out before is still held: a block of our own.
            if self._target is None and not self._give(self._take_block()):
                self._fail()
            target = self._addresses[self._target]  # type: ignore[index]
        # Messages already queued: counted, and failures raised, first.
        announced = self._take_messages(self._peek(self._window, self._message_ref, 1))
        # Once a frame has been handed out, the record names the current
        # buffer only after a frame of this stream was started in it: no
        # need to wait for that frame's message, which would cost a wake-up.
        if not (self.frames and self._named_by_record() == target):
            announced += self._wait_for_frame(announced, target)
        with self._lock:
            self._still_running()
            # A frame was started in the current block; once the library
            # has moved on to another (or none), that frame is complete.
            # The frame is made first: while the library has no block, the
            # frames it develops are lost, so that time is kept short.
            filled = self._target
            memory = self._block_type.from_buffer(self._blocks[filled])  # type: ignore[arg-type]
            self._watches[filled] = weakref.ref(memory, self._releasers[filled])  # type: ignore[index]
            frame = _new_frame(Frame, self._shape, self._dtype, memory, 0, self._strides)
            del memory
            if not self._give(self._next_block()):
                self._fail()
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
        frame.number = number
        frame.timestamp = monotonic()
        frame.color_mode = self.mode
        frame.dropped = skipped
        self._last = weakref.ref(frame)
        return frame

    def _still_running(self) -> None:
        """Ends the iteration when another thread has closed the stream or
        the camera meanwhile: giving the library a block now would start
        the camera again."""
        if not self.running:
            raise StopIteration

    def _fail(self) -> NoReturn:
        error = self._camera._error("receive a frame")
        self.close()
        raise error

    def _wait_for_frame(self, announced: int, target: int) -> int:
        """Waits until a frame of this stream was started in the block at
        ``target``; returns the frame messages taken meanwhile."""
        wait = self._wait
        window = self._window
        ref = self._message_ref
        taken = 0
        deadline = monotonic() + self._timeout
        while True:
            # Until a frame message of this stream has come, the record
            # may still name an older stream's buffer.
            if (announced + taken or self.frames) and self._named_by_record() == target:
                return taken
            self._still_running()
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
                    if self._record_field is None:
                        # Only its address is taken here; no memory is read.
                        self._record_field = c_void_p.from_address(
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
        with self._lock:
            if not self.running:
                return
            self.running = False
        camera = self._camera
        if not camera.closed:
            self._lib.Zorbex_StopPreview(camera._handle)
            camera._take_errors()
        camera._stream_slot[0] = None

    def __enter__(self) -> "Stream":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass
