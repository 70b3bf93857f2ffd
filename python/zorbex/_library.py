"""Finding and loading the shared library, and the C prototypes used here.

The library is looked up, in this order:

1. the file named by the ``ZORBEX_LIBRARY`` environment variable;
2. a ``libZorbexSdk_530RD_NQT.so*`` file next to this package;
3. the library directory of the installation this package came with
   (written by ``cmake --install`` into ``_install_paths.py``);
4. the system's dynamic loader (``LD_LIBRARY_PATH``, ``ldconfig``).

``import zorbex`` loads it when it can (the adjustment properties of
``Camera`` are made from the library's value table); without it, import and
``help(zorbex)`` still work, the properties are made when the first camera
opens and other calls raise ``LibraryNotFoundError``.
"""
from __future__ import annotations

import ctypes
import glob
import os
import threading
from ctypes import POINTER, Structure, c_char_p, c_int, c_int32, c_size_t, c_ssize_t
from ctypes import c_uint16, c_uint32, c_uint64, c_void_p
from typing import List, Optional

LIBRARY_ENV = "ZORBEX_LIBRARY"
LIBRARY_SONAME = "libZorbexSdk_530RD_NQT.so.1"
_LIBRARY_GLOB = "libZorbexSdk_530RD_NQT.so*"


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded."""


# Window handle, session handle and messages (window.h, zorbex.h).
Window = c_void_p
Handle = c_uint32


class Message(Structure):
    _fields_ = [("window", c_void_p), ("message", c_uint32),
                ("wparam", c_size_t), ("lparam", c_ssize_t)]


class FrameRecord(Structure):
    _fields_ = [("size", c_uint32), ("width", c_int32), ("height", c_int32),
                ("bits_per_pixel", c_int32), ("frame_rate", c_int32),
                ("reserved", c_int32), ("buffer", c_void_p)]


class CameraInfo(Structure):
    _fields_ = [("size", c_uint32), ("sensor_width", c_int32), ("sensor_height", c_int32),
                ("min_gain", c_int32), ("max_gain", c_int32), ("reserved1", c_int32),
                ("reserved2", c_int32), ("min_exposure", c_int32), ("max_exposure", c_int32)]


class VcamScene(Structure):
    _fields_ = [("kind", c_int32), ("moving", c_int32), ("noise", c_int32),
                ("flat_red", c_uint16), ("flat_green", c_uint16), ("flat_blue", c_uint16),
                ("reserved", c_uint16)]


class VcamDefect(Structure):
    _fields_ = [("x", c_int32), ("y", c_int32), ("value", c_uint16), ("reserved", c_uint16)]


class VcamStats(Structure):
    _fields_ = [("frames_delivered", c_uint64), ("frames_failed", c_uint64),
                ("open_handles", c_uint32), ("pending_triggers", c_uint32),
                ("transfer_timeout_ms", c_uint32), ("frame_period_us", c_uint32),
                ("log_dropped", c_uint64)]


class ValueInfo(Structure):
    """One entry of the library's value table (values.h)."""
    _fields_ = [("id", c_int), ("name", c_char_p), ("min", c_int), ("max", c_int),
                ("default_value", c_int), ("flags", c_int), ("unit", c_char_p),
                ("meaning", c_char_p)]


VALUE_PACKED = 0x01
VALUE_SWITCH = 0x02
VALUE_DERIVED = 0x04
VALUE_AUTOMATIC = 0x08
VALUE_SENSOR = 0x10


class StreamConfig(Structure):
    _fields_ = [("struct_size", c_uint32), ("buffer_count", c_uint32), ("delivery", c_uint32),
                ("output", c_uint32), ("trigger", c_uint32)]


class FrameFormat(Structure):
    _fields_ = [("width", c_int32), ("height", c_int32), ("stride", c_int32),
                ("format", c_uint32), ("bayer", c_uint32), ("sample_bits", c_uint32),
                ("size", c_size_t)]


class QueueFrame(Structure):
    """ZbxFrame: one filled buffer of a frame queue, valid from Wait to Release."""
    _fields_ = [("data", c_void_p), ("size", c_size_t), ("width", c_int32), ("height", c_int32),
                ("stride", c_int32), ("format", c_uint32), ("bayer", c_uint32),
                ("sample_bits", c_uint32), ("sequence", c_uint64), ("timestamp_ns", c_uint64),
                ("device_timestamp", c_uint64), ("exposure_lines", c_int32),
                ("exposure_us", c_int32), ("gain", c_int32), ("flags", c_uint32),
                ("status", c_int32), ("dropped", c_uint32), ("user", c_void_p),
                ("buffer_index", c_uint32), ("reserved", c_uint32)]


class StreamStats(Structure):
    _fields_ = [("delivered", c_uint64), ("dropped", c_uint64), ("queued", c_uint32),
                ("held", c_uint32), ("buffers", c_uint32), ("last_error", c_int32),
                ("no_buffer", c_uint64)]


# Frame queue results (zorbex/stream.h).
QUEUE_OK = 0
QUEUE_TIMEOUT = 20
QUEUE_CANCELLED = 21
QUEUE_ENDED = 22
QUEUE_BUSY = 23
QUEUE_BUFFER = 24
QUEUE_NOT_HELD = 25
QUEUE_INVALID_HANDLE = 26
QUEUE_MAX_BUFFERS = 1024
DELIVER_ALL = 0
DELIVER_LATEST = 1
OUTPUT_DEVELOPED = 0
OUTPUT_RAW = 1

MSG_FRAME = 0x8002
MSG_ERROR = 0x8003
WIN_INFINITE = 0xFFFFFFFF

_H = Handle
_I = c_int
_PI = POINTER(c_int)
# name: (result, argument types)
_PROTOTYPES = {
    "Zorbex_GetDllVersion": (_I, []),
    "Zorbex_Initialize": (_H, [Window]),
    "Zorbex_Release": (_I, [_H]),
    "Zorbex_GetLastError": (_I, [_H]),
    "Zorbex_GetDeviceName": (_I, [_H, _I, c_char_p, _I]),
    "Zorbex_EnumDevice": (_I, [_H, c_char_p]),
    "Zorbex_SetDeviceNumber": (_I, [_H, _I]),
    "Zorbex_GetCameraInfo": (_I, [_H, POINTER(CameraInfo)]),
    "Zorbex_SetColorMode": (_I, [_H, _I]),
    "Zorbex_GetColorMode": (_I, [_H]),
    "Zorbex_SetWaitTime": (_I, [_H, _I]),
    "Zorbex_GetWaitTime": (_I, [_H]),
    "Zorbex_Width": (_I, [_H]),
    "Zorbex_Height": (_I, [_H]),
    "Zorbex_SetCaptureWindowEx": (_I, [_H, _I, _I, _I, _I, _I, _I]),
    "Zorbex_GetCaptureWindowEx": (_I, [_H, _PI, _PI, _PI, _PI, _PI, _PI]),
    "Zorbex_SetMirrorH": (_I, [_H, _I]),
    "Zorbex_SetMirrorV": (_I, [_H, _I]),
    "Zorbex_GetMirrorH": (_I, [_H]),
    "Zorbex_GetMirrorV": (_I, [_H]),
    "Zorbex_ReadRegister": (_I, [_H, _I, _PI]),
    "Zorbex_Capture": (_I, [_H]),
    "Zorbex_SnapShot": (_I, [_H, c_void_p, _I, _I]),
    "Zorbex_Trigger": (_I, [_H, Window, c_void_p, _I, _I]),
    "Zorbex_CallBackPreview": (_I, [_H, Window, c_void_p, _I, _I]),
    "Zorbex_StopPreview": (_I, [_H]),
    "Zorbex_Close": (_I, [_H]),
    "Zorbex_SetPreviewWindow": (_I, [_H, Window, _I, _I, _I, _I]),
    "Zorbex_GetImage": (_I, [_H, c_void_p, _I, _I]),
    "Zorbex_SaveImage": (_I, [_H, c_char_p, _I]),
    "Zorbex_Record": (_I, [_H, c_char_p, _I, _I]),
    "Zorbex_GetFilterValue": (_I, [_H, _I, _PI]),
    "Zorbex_SetFilterValue": (_I, [_H, _I, _I]),
    "Zorbex_SetConfigFilter": (_I, [_H, _I]),
    "Zorbex_GetConfigFilter": (_I, [_H]),
    "Zorbex_SetAutoIris": (_I, [_H, _I]),
    "Zorbex_GetAutoIris": (_I, [_H, _PI]),
    "Zorbex_SetRealExposureTime": (_I, [_H, _I]),
    "Zorbex_GetRealExposureTime": (_I, [_H, _PI]),
    "ZbxWin_CreateMessageWindow": (Window, []),
    "ZbxWin_DestroyWindow": (_I, [Window]),
    "ZbxWin_PeekMessage": (_I, [Window, POINTER(Message), _I]),
    "ZbxWin_WaitMessage": (_I, [Window, POINTER(Message), c_uint32]),
    "ZbxStream_Open": (_I, [_H, POINTER(StreamConfig), POINTER(c_void_p)]),
    "ZbxStream_AddBuffer": (_I, [c_void_p, c_void_p, c_size_t, c_void_p]),
    "ZbxStream_GetFormat": (_I, [c_void_p, POINTER(FrameFormat)]),
    "ZbxStream_Start": (_I, [c_void_p]),
    "ZbxStream_Stop": (_I, [c_void_p]),
    "ZbxStream_Wait": (_I, [c_void_p, c_int32, POINTER(POINTER(QueueFrame))]),
    "ZbxStream_Release": (_I, [c_void_p, c_void_p]),
    "ZbxStream_Cancel": (_I, [c_void_p]),
    "ZbxStream_Resume": (_I, [c_void_p]),
    "ZbxStream_GetStats": (_I, [c_void_p, POINTER(StreamStats)]),
    "ZbxStream_Close": (_I, [c_void_p]),
    "ZbxCamera_GetFramePeriod": (_I, [_H, POINTER(c_uint64)]),
    "ZbxCamera_Survey": (_I, [POINTER(c_uint32), POINTER(c_uint32)]),
    "ZbxError_Name": (c_char_p, [_I]),
    "ZbxError_Describe": (c_char_p, [_I]),
    "ZbxValues_Count": (_I, []),
    "ZbxValues_At": (_I, [_I, POINTER(ValueInfo)]),
    "ZbxVcam_Reset": (_I, []),
    "ZbxVcam_GetSlots": (c_uint32, []),
    "ZbxVcam_SetSlots": (_I, [c_uint32]),
    "ZbxVcam_SetPacing": (_I, [_I, _I]),
    "ZbxVcam_SetScene": (_I, [_I, POINTER(VcamScene)]),
    "ZbxVcam_GetScene": (_I, [_I, POINTER(VcamScene)]),
    "ZbxVcam_SetDefects": (_I, [_I, POINTER(VcamDefect), _I]),
    "ZbxVcam_FireTrigger": (_I, [_I]),
    "ZbxVcam_Unplug": (_I, [_I]),
    "ZbxVcam_Replug": (_I, [_I]),
    "ZbxVcam_FailFrameReads": (_I, [_I, _I]),
    "ZbxVcam_ShortFrameReads": (_I, [_I, _I]),
    "ZbxVcam_SetRegisterFaults": (_I, [_I, _I, _I]),
    "ZbxVcam_StopFrames": (_I, [_I, _I]),
    "ZbxVcam_GetStats": (_I, [_I, POINTER(VcamStats)]),
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None
_library_path: Optional[str] = None


def _candidates() -> List[str]:
    here = os.path.dirname(os.path.abspath(__file__))
    found: List[str] = []
    env = os.environ.get(LIBRARY_ENV)
    if env:
        found.append(env)
    found.extend(sorted(glob.glob(os.path.join(here, _LIBRARY_GLOB))))
    try:
        from . import _install_paths  # type: ignore[attr-defined]  # cmake --install writes it
        libdir = os.path.normpath(os.path.join(here, _install_paths.LIBRARY_DIR))
        found.append(os.path.join(libdir, LIBRARY_SONAME))
    except ImportError:
        pass
    found.append(LIBRARY_SONAME)  # the dynamic loader's own search
    return found


def _load() -> ctypes.CDLL:
    tried: List[str] = []
    env = os.environ.get(LIBRARY_ENV)
    for candidate in _candidates():
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append(f"{candidate} (no such file)")
            if candidate == env:
                # An explicit choice that is wrong should not be papered over.
                break
            continue
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
            if candidate == env:
                break
            continue
        for name, (restype, argtypes) in _PROTOTYPES.items():
            try:
                function = getattr(lib, name)
            except AttributeError:
                raise LibraryNotFoundError(
                    f"{candidate} is not the Zorbex SDK library: it lacks {name}") from None
            function.restype = restype
            function.argtypes = argtypes
        global _library_path
        _library_path = candidate
        return lib
    raise LibraryNotFoundError(
        "the Zorbex SDK library libZorbexSdk_530RD_NQT.so could not be loaded; tried:\n  "
        + "\n  ".join(tried)
        + f"\nInstall the SDK (cmake --install), or set {LIBRARY_ENV} to the library file.")


def lib() -> ctypes.CDLL:
    """The loaded library (loads it on first use)."""
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                _library = _load()
    return _library


def library_path() -> str:
    """The file or name the library was loaded from."""
    lib()
    assert _library_path is not None
    return _library_path


def error_name(code: int) -> str:
    return str(lib().ZbxError_Name(code).decode("utf-8"))


def error_sentence(code: int) -> str:
    return str(lib().ZbxError_Describe(code).decode("utf-8"))


def value_table() -> List[ValueInfo]:
    """The library's table of image values and camera settings."""
    library = lib()
    entries = []
    for index in range(library.ZbxValues_Count()):
        info = ValueInfo()
        if library.ZbxValues_At(index, ctypes.byref(info)):
            entries.append(info)
    return entries
