"""The session behind a Camera: its library handle, error reporting, the
acquisition mode it is in, and the frame queue that streams from it.

Both :class:`~zorbex.Camera` and :class:`~zorbex.Stream` work through one
``Session``; neither reaches into the other.  A session lives as long as a
camera or a stream refers to it, so ``for f in zorbex.Camera(0).stream()``
keeps the camera open for as long as the loop runs.
"""
from __future__ import annotations

import ctypes
import os
import threading
import weakref
from ctypes import byref, c_int
from typing import TYPE_CHECKING, Any, Callable, List, Optional, Tuple

from . import _library
from .errors import (ERR_DEVICE_UNAVAILABLE, ERR_MEMORY, ERR_NOT_READY, CameraClosedError,
                     ZorbexError, error_for)

if TYPE_CHECKING:
    from .stream import Stream

MAX_SLOTS = 32

# Sessions open in this process: cameras() borrows one for the name look-up
# instead of opening a session of its own, which would program camera 0.
_open_sessions: "weakref.WeakSet[Session]" = weakref.WeakSet()


def camera_in_use(slot: int) -> bool:
    """True while some session of a live process streams from the camera.

    The library reads its shared camera table for it without opening a
    session: applying settings to find out would reprogram the camera and
    end another session's trigger mode.
    """
    in_use = ctypes.c_uint32(0)
    _library.lib().ZbxCamera_Survey(None, ctypes.byref(in_use))
    return bool(in_use.value >> slot & 1)


def _release(lib: ctypes.CDLL, handle: int, windows: Tuple[int, ...], use: threading.RLock,
             stream_slot: List[Optional["weakref.ReferenceType[Stream]"]]) -> None:
    # Runs at close, when nothing refers to the session any more, or at
    # interpreter exit; waits for a call another thread is making.  A stream
    # still running (another thread's loop) is ended before the session goes.
    stream = stream_slot[0]() if stream_slot[0] is not None else None
    if stream is not None:
        stream.close()
    with use:
        lib.Zorbex_Release(handle)
    for window in windows:
        lib.ZbxWin_DestroyWindow(window)


class Session:
    """One library session (``Zorbex_Initialize``) on one camera slot."""

    def __init__(self, slot: int) -> None:
        self.lib = _library.lib()
        lib = self.lib
        self.slot = slot
        self.trigger_mode = False
        # Snapshots run in the library's capture mode, entered once: outside
        # it every snapshot re-applies all settings (~90 ms).  `stale` says a
        # setting that only an apply brings to the camera changed since.
        self.capture_mode = False
        self.stale = False
        # "raw8"/"raw16" when the frames are the undeveloped mosaic; the
        # library's colour mode then only picks the sample width.
        self.raw_mode: Optional[str] = None
        self.snaps = 0
        self._peek = _library.Message()
        # Held around each call on the session and around its release, so
        # that another thread's close() never ends the session in the middle
        # of a call (whose failure would then read as some other error).
        self.use = threading.RLock()
        self.stream_slot: List[Optional["weakref.ReferenceType[Stream]"]] = [None]
        self.notify = lib.ZbxWin_CreateMessageWindow()
        self.frames_window = lib.ZbxWin_CreateMessageWindow()
        self.handle = (lib.Zorbex_Initialize(self.notify)
                       if self.notify and self.frames_window else 0)
        windows = tuple(w for w in (self.notify, self.frames_window) if w)
        self._finalizer = weakref.finalize(self, _release, lib, self.handle, windows, self.use,
                                           self.stream_slot)
        if not self.handle:
            self._finalizer()
            raise ZorbexError(ERR_MEMORY, f"open camera {slot}")
        _open_sessions.add(self)

    # --- life cycle -------------------------------------------------------

    @property
    def closed(self) -> bool:
        return not self._finalizer.alive

    def close(self) -> None:
        if not self._finalizer.alive:
            return
        stream = self.stream
        if stream is not None:
            stream.close()
        self._finalizer()

    @property
    def stream(self) -> Optional["Stream"]:
        """The stream that runs on this session, if any."""
        ref = self.stream_slot[0]
        stream = ref() if ref is not None else None
        return stream if stream is not None and stream.running else None

    def attach(self, stream: Optional["Stream"]) -> None:
        self.stream_slot[0] = weakref.ref(stream) if stream is not None else None

    def leave_capture_mode(self) -> None:
        """Ends capture mode, which keeps streams and trigger mode from starting."""
        if self.capture_mode:
            self.capture_mode = False
            self.lib.Zorbex_StopPreview(self.handle)
            self.drain_notifications()

    # --- calls and errors -------------------------------------------------

    def h(self) -> int:
        if not self._finalizer.alive:
            raise CameraClosedError(ERR_NOT_READY, "use the camera", "the camera is closed")
        return int(self.handle)

    def error(self, action: str, fallback: int = ERR_NOT_READY) -> ZorbexError:
        """The exception for the failure just reported; empties the history.

        A failing call may record several codes, the cause first and then
        what the call made of it (a failed settings apply, then "not
        ready"): the exception carries the first, ``codes`` all of them.
        """
        if self.closed:
            # Closed by another thread while the call ran.
            return CameraClosedError(ERR_NOT_READY, action, "the camera is closed")
        codes, posted = self.take_errors()
        code = codes[-1] if codes else (posted or fallback)
        error = error_for(code, action)
        error.codes = list(reversed(codes)) or [code]
        return error

    def take_errors(self) -> Tuple[List[int], int]:
        """Empties the error history (codes newest first) and the
        notification queue (the last code posted, 0 for none)."""
        codes = []
        while True:
            code = self.lib.Zorbex_GetLastError(self.handle)
            if not code:
                break
            codes.append(int(code))
        posted = 0
        if self.lib.ZbxWin_PeekMessage(self.notify, byref(self._peek), 0):
            posted = self.drain_notifications()
        return codes, posted

    def drain_notifications(self) -> int:
        # Codes posted without being recorded (some setters only post); the
        # queue is emptied so it never fills up.
        message = _library.Message()
        last = 0
        while self.lib.ZbxWin_PeekMessage(self.notify, byref(message), 1):
            if message.message == _library.MSG_ERROR:
                last = int(message.lparam)
        return last

    def call(self, function: Callable[..., int], action: str, *args: Any) -> int:
        with self.use:
            h = self.h()
            self.take_errors()  # so that codes after a failure are this call's
            result = int(function(h, *args))
            if not result:
                raise self.error(action)
            return result

    def get(self, function: Callable[..., int], action: str, *args: Any) -> int:
        ok = c_int(0)
        with self.use:
            h = self.h()
            self.take_errors()
            value = function(h, *args, byref(ok))
            if not ok.value:
                raise self.error(action)
            return int(value)

    def value(self, function: Callable[..., int], *args: Any) -> int:
        """A getter's result: it cannot fail while the session is open."""
        with self.use:
            return int(function(self.h(), *args))

    def present(self) -> bool:
        """Whether the camera is still attached."""
        return any(entry[0] == self.slot for entry in list_cameras())


def list_cameras() -> List[Tuple[int, str, bool]]:
    """(slot, name, in use) of every attached camera.

    A session learns which cameras are attached when it is created, so the
    look-up takes a new one.  Creating a session programs camera 0, though:
    when a session of this process works on camera 0, that session looks
    again instead (for a session on camera 0 a new look-up changes nothing).
    """
    lib = _library.lib()
    for session in list(_open_sessions):
        with session.use:
            if not session.closed and session.slot == 0:
                names = ctypes.create_string_buffer(32 * 256)
                lib.Zorbex_EnumDevice(session.handle, names)
                return _scan(lib, session.handle)
    handle = lib.Zorbex_Initialize(None)
    if not handle:
        raise ZorbexError(ERR_MEMORY, "list the cameras")
    try:
        return _scan(lib, handle)
    finally:
        lib.Zorbex_Release(handle)


def _scan(lib: ctypes.CDLL, handle: int) -> List[Tuple[int, str, bool]]:
    name = ctypes.create_string_buffer(64)
    found: List[Tuple[int, str, bool]] = []
    for slot in range(MAX_SLOTS):
        if lib.Zorbex_GetDeviceName(handle, slot, name, len(name)):
            found.append((slot, name.value.decode("utf-8"), camera_in_use(slot)))
    return found


def check_free(slot: int, action: str) -> None:
    """Refuses a camera that a session streams from or runs in trigger mode,
    before a new session touches it: selecting a camera reprograms it,
    which would end the other session's trigger mode."""
    for session in list(_open_sessions):
        if (session.slot == slot and not session.closed
                and (session.trigger_mode or session.stream is not None)):
            raise unavailable(slot, action)
    if camera_in_use(slot):
        raise unavailable(slot, action)


def unavailable(slot: int, action: str) -> ZorbexError:
    return error_for(ERR_DEVICE_UNAVAILABLE, action,
                     f"camera {slot} is in use: another session streams from it "
                     "or runs it in trigger mode")
