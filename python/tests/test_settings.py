"""Every setting round-trips through the library; bad values are refused
with their range and leave the setting as it was."""
import pytest

import zorbex
from zorbex import ADJUSTMENTS

# A value other than the default inside each adjustment's range.
ADJUSTMENT_VALUES = [
    (a.name, True if a.flag else 0x00C86432 if a.low is None else
     a.high if a.high != 0 else 0)
    for a in ADJUSTMENTS
]


def test_adjustments_are_the_librarys_table():
    assert [a.id for a in ADJUSTMENTS] == list(range(1, 29))
    assert zorbex.Camera.gray_auto_balance.__doc__.startswith("Image adjustment value 28:")
    assert [a.id for a in ADJUSTMENTS if a.default is None] == [6, 14, 15, 16, 17]
    assert ADJUSTMENTS[10].name == "gamma" and ADJUSTMENTS[10].default == 100


@pytest.mark.parametrize("name, value", [
    ("color_mode", "mono8"), ("color_mode", "mono16"), ("color_mode", "bgr24"),
    ("color_mode", "bgra32"), ("color_mode", "bgr48"), ("color_mode", "bgra64"),
    ("exposure_lines", 1000), ("gain", 11), ("mirror_h", True), ("mirror_v", True),
    ("capture_window", (2, 4, 1278, 480)), ("wait_time_ms", 0), ("auto_iris", "gain"),
    ("defect_correction", True),
] + ADJUSTMENT_VALUES)
def test_setting_round_trips(shared_cam, name, value):
    setattr(shared_cam, name, value)
    assert getattr(shared_cam, name) == value
    if name != "capture_window":
        return
    assert (shared_cam.width, shared_cam.height) == value[2:]


def test_exposure_in_microseconds_follows_lines(shared_cam):
    shared_cam.exposure_us = 20000
    lines = shared_cam.exposure_lines
    # One line is (register 46 + 6) clocks of 10 ns.
    assert shared_cam.exposure_us <= 20000 < shared_cam.exposure_us + shared_cam.exposure_us // lines + 1
    shared_cam.exposure_lines = 2 * lines
    assert abs(shared_cam.exposure_us - 2 * 20000) <= 2 * shared_cam.exposure_us // lines
    with pytest.raises(ValueError, match=r"exposure_us must be \d+ to \d+ µs"):
        shared_cam.exposure_us = 10**9


@pytest.mark.parametrize("name, bad, message", [
    ("gain", 12, "0 to 11"),
    ("exposure_lines", 0, "1 to 32767 lines"),
    ("capture_window", (1, 0, 1280, 720), "width must be 1 to 1279"),
    ("color_mode", "rgb24", "mono8, mono16"),
    ("auto_iris", "iris", "off, exposure, gain"),
] + [(a.name, a.high + 1, f"{a.low} to {a.high}") for a in ADJUSTMENTS
     if a.low is not None and not a.flag])
def test_out_of_range_is_refused_with_range(shared_cam, name, bad, message):
    before = getattr(shared_cam, name)
    with pytest.raises(ValueError, match=message) as caught:
        setattr(shared_cam, name, bad)
    assert caught.value.code == zorbex.errors.ERR_PARAMETER
    assert getattr(shared_cam, name) == before


@pytest.mark.parametrize("name, bad", [("gain", "3"), ("brightness", 1.5), ("mirror_h", "yes"),
                                       ("color_mode", 24), ("capture_window", 5)])
def test_wrong_types_raise_type_error(shared_cam, name, bad):
    with pytest.raises(TypeError):
        setattr(shared_cam, name, bad)


def test_library_refusal_carries_its_code(shared_cam):
    # The library, not only the binding, checks: a value it refuses comes
    # back as its own code 9.
    with pytest.raises(zorbex.ParameterError) as caught:
        shared_cam._call(shared_cam._lib.Zorbex_SetFilterValue, "set id 29", 29, 0)
    assert (caught.value.code, caught.value.name) == (9, "ERR_PARAMETER")
