"""The virtual camera: attached slots, scene, pacing, trigger input and faults.

Without hardware the library talks to a virtual camera that answers the
driver's requests like the real one.  These functions decide which slots
hold a camera and drive its inputs, so scripts and notebooks run anywhere::

    zorbex.vcam.set_slots([0, 3])          # two cameras
    zorbex.vcam.set_scene(0, "flat", color=(4095, 2048, 0))
    zorbex.vcam.set_paced(0, False)        # frames as fast as they are read

The virtual cameras belong to this process; ``ZBX_VCAM_SLOTS`` (for example
``0,3``) chooses the slots at start-up.
"""
from __future__ import annotations

import ctypes
from typing import Dict, Iterable, List, Optional, Sequence, Tuple

from . import _library

MAX_SLOTS = 32
SCENES = ("chart", "flat")


def _check(result: int, what: str, slot: Optional[int] = None) -> None:
    if result == -1:
        raise ValueError(f"{what}: no virtual camera in slot {slot}")
    if result == -3:
        raise MemoryError(f"{what}: the virtual camera ran out of memory")
    if result < 0:
        raise ValueError(f"{what}: a value is out of range")


def reset() -> None:
    """Back to the defaults: cameras in the ``ZBX_VCAM_SLOTS`` slots (slot 0
    when unset), power-on state, no faults.  Open sessions stop working."""
    _check(_library.lib().ZbxVcam_Reset(), "reset")


def slots() -> List[int]:
    """The slots that hold a camera."""
    mask = _library.lib().ZbxVcam_GetSlots()
    return [s for s in range(MAX_SLOTS) if mask >> s & 1]


def set_slots(slots: Iterable[int]) -> None:
    """Attaches cameras to exactly these slots (new ones in power-on state)."""
    mask = 0
    for slot in slots:
        if isinstance(slot, bool) or not isinstance(slot, int):
            raise TypeError(f"slots must be integers, not {type(slot).__name__}")
        if not 0 <= slot < MAX_SLOTS:
            raise ValueError(f"slot must be 0 to {MAX_SLOTS - 1}, not {slot}")
        mask |= 1 << slot
    _check(_library.lib().ZbxVcam_SetSlots(mask), "set_slots")


def set_paced(slot: int, paced: bool) -> None:
    """Paced: frames at the sensor's real rate (default); unpaced: as fast as read."""
    _check(_library.lib().ZbxVcam_SetPacing(slot, 0 if paced else 1), "set_paced", slot)


def set_scene(slot: int, kind: str = "chart", moving: bool = True, noise: int = 0,
              color: Tuple[int, int, int] = (2048, 2048, 2048)) -> None:
    """What the camera sees.

    Args:
        kind: ``"chart"`` (colour patches, grey ramp, a moving square) or
            ``"flat"`` (one colour everywhere).
        moving: whether the chart's square moves every frame.
        noise: standard deviation of added noise, 0 to 512 (12-bit scale).
        color: the flat scene's (red, green, blue), 0 to 4095 each.
    """
    if kind not in SCENES:
        raise ValueError(f"kind must be one of {', '.join(SCENES)}, not {kind!r}")
    if not 0 <= noise <= 512:
        raise ValueError(f"noise must be 0 to 512, not {noise}")
    red, green, blue = color
    for value in color:
        if not 0 <= value <= 4095:
            raise ValueError(f"colour values must be 0 to 4095, not {value}")
    scene = _library.VcamScene(kind=SCENES.index(kind), moving=int(bool(moving)), noise=noise,
                               flat_red=red, flat_green=green, flat_blue=blue)
    _check(_library.lib().ZbxVcam_SetScene(slot, ctypes.byref(scene)), "set_scene", slot)


def scene(slot: int) -> Dict[str, object]:
    """The current scene as a dict (``kind``, ``moving``, ``noise``, ``color``)."""
    value = _library.VcamScene()
    _check(_library.lib().ZbxVcam_GetScene(slot, ctypes.byref(value)), "scene", slot)
    return {"kind": SCENES[value.kind] if 0 <= value.kind < len(SCENES) else value.kind,
            "moving": bool(value.moving), "noise": value.noise,
            "color": (value.flat_red, value.flat_green, value.flat_blue)}


def set_defects(slot: int, defects: Sequence[Tuple[int, int, int]]) -> None:
    """Stuck pixels: (column, row, 12-bit value) in unmirrored sensor positions."""
    array = (_library.VcamDefect * max(1, len(defects)))()
    for i, (x, y, value) in enumerate(defects):
        array[i] = _library.VcamDefect(x=x, y=y, value=value)
    _check(_library.lib().ZbxVcam_SetDefects(slot, array, len(defects)), "set_defects", slot)


def fire_trigger(slot: int) -> None:
    """One pulse on the trigger input (makes a frame in trigger mode)."""
    _check(_library.lib().ZbxVcam_FireTrigger(slot), "fire_trigger", slot)


def unplug(slot: int) -> None:
    """Pulls the camera out: open sessions fail until it is replugged and reopened."""
    _check(_library.lib().ZbxVcam_Unplug(slot), "unplug", slot)


def replug(slot: int) -> None:
    """Plugs an unplugged camera back in, in power-on state."""
    _check(_library.lib().ZbxVcam_Replug(slot), "replug", slot)


def fail_frame_reads(slot: int, count: int) -> None:
    """The next ``count`` frame reads fail at once (0 cancels)."""
    _check(_library.lib().ZbxVcam_FailFrameReads(slot, count), "fail_frame_reads", slot)


def short_frame_reads(slot: int, count: int) -> None:
    """The next ``count`` frame reads deliver half a frame."""
    _check(_library.lib().ZbxVcam_ShortFrameReads(slot, count), "short_frame_reads", slot)


def set_register_faults(slot: int, fail_reads: bool, fail_writes: bool) -> None:
    """While set, register reads or writes fail."""
    _check(_library.lib().ZbxVcam_SetRegisterFaults(slot, int(fail_reads), int(fail_writes)),
           "set_register_faults", slot)


def stop_frames(slot: int, stop: bool = True) -> None:
    """While set, no frames come: reads wait for the transfer time-out and fail."""
    _check(_library.lib().ZbxVcam_StopFrames(slot, int(stop)), "stop_frames", slot)


def stats(slot: int) -> Dict[str, int]:
    """Counters of the camera: frames delivered and failed, open handles, ..."""
    value = _library.VcamStats()
    _check(_library.lib().ZbxVcam_GetStats(slot, ctypes.byref(value)), "stats", slot)
    return {name: getattr(value, name) for name, _ in _library.VcamStats._fields_}
