"""Exceptions carrying the library's error codes.

Every failure the library reports becomes a :class:`ZorbexError` holding the
code, its constant name and the sentence the command-line tool prints (both
from the library itself).  The common codes have subclasses that also derive
from the matching built-in exception, so ``except TimeoutError`` and
``except ValueError`` work as expected.
"""
from __future__ import annotations

from typing import Dict, Type

from . import _library

ERR_NONE = 0
ERR_NOT_READY = 1
ERR_DEVICE_UNAVAILABLE = 2
ERR_THREAD_START = 3
ERR_WINDOW = 4
ERR_MEMORY = 5
ERR_DEVICE_IO = 6
ERR_GEOMETRY = 7
ERR_TRANSFER = 8
ERR_PARAMETER = 9
ERR_UNSUPPORTED = 11
ERR_FILE = 12
ERR_FRAME_TIMEOUT = 13


class ZorbexError(Exception):
    """A failure reported by the camera library.

    Attributes:
        code: the library's error number (``ERR_*`` in this module).
        name: its constant name, e.g. ``"ERR_DEVICE_UNAVAILABLE"``.
        sentence: what the code means, in the library's words (the same
            table the command-line tool prints).
        detail: what this binding found out, when it says more than the
            sentence (a value's range, a file name); else empty.
        action: what was being done, e.g. ``"take a frame"``.
        codes: every code the library recorded for the failure, cause first.
    """

    def __init__(self, code: int, action: str = "", detail: str = "") -> None:
        self.code = int(code)
        self.action = action
        self.codes = [self.code]
        self.name = _library.error_name(self.code)
        self.sentence = _library.error_sentence(self.code)
        self.detail = detail
        prefix = f"could not {action}: " if action else ""
        super().__init__(f"{prefix}{detail or self.sentence} ({self.name}, code {self.code})")


class DeviceUnavailableError(ZorbexError):
    """The camera is not attached, or another process uses it (code 2)."""


class FrameTimeoutError(ZorbexError, TimeoutError):
    """No frame arrived in time (code 13)."""


class ParameterError(ZorbexError, ValueError):
    """A value is out of its range or of the wrong kind (code 9)."""


class CameraClosedError(ZorbexError):
    """The camera was used after :meth:`zorbex.Camera.close`."""


_BY_CODE: Dict[int, Type[ZorbexError]] = {
    ERR_DEVICE_UNAVAILABLE: DeviceUnavailableError,
    ERR_FRAME_TIMEOUT: FrameTimeoutError,
    ERR_PARAMETER: ParameterError,
}


def error_for(code: int, action: str = "", detail: str = "") -> ZorbexError:
    """The exception of the right class for a library error code."""
    cls = _BY_CODE.get(code, ZorbexError)
    return cls(code, action, detail)


def out_of_range(what: str, value: object, low: int, high: int, unit: str = "") -> ParameterError:
    unit_text = f" {unit}" if unit else ""
    return ParameterError(
        ERR_PARAMETER, f"set {what}",
        f"{what} must be {low} to {high}{unit_text}, not {value!r}")


def name_of(code: int) -> str:
    """The constant name of an error code, from the library."""
    return _library.error_name(code)


def describe(code: int) -> str:
    """The library's sentence about an error code."""
    return _library.error_sentence(code)
