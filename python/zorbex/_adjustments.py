"""The image adjustment values: their ids, Python names and accepted ranges."""
from __future__ import annotations

from typing import NamedTuple, Optional, Tuple


class Adjustment(NamedTuple):
    """One image adjustment value of the library.

    ``low``/``high`` are the range the library accepts; ``None`` means any
    32-bit value (the packed Bayer gains) and ``flag`` values are stored as
    0 or 1.  ``unit`` says what the numbers mean.
    """
    id: int
    name: str
    low: Optional[int]
    high: Optional[int]
    unit: str
    flag: bool = False


ADJUSTMENTS: Tuple[Adjustment, ...] = (
    Adjustment(1, "brightness", -255, 255, "added to every channel"),
    Adjustment(2, "contrast", -127, 127, "steps, 0 leaves the picture as it is"),
    Adjustment(3, "hue", -360, 360, "degrees"),
    Adjustment(4, "saturation", -255, 255, "steps, 0 leaves the picture as it is"),
    Adjustment(5, "sharpness", 0, 30, "steps, 0 is off"),
    Adjustment(6, "bayer_gain_rgb", None, None, "red | green << 8 | blue << 16, percent each"),
    Adjustment(7, "bayer_gain_red", 0, 400, "percent, 100 leaves the channel as it is"),
    Adjustment(8, "bayer_gain_green", 0, 400, "percent, 100 leaves the channel as it is"),
    Adjustment(9, "bayer_gain_blue", 0, 400, "percent, 100 leaves the channel as it is"),
    Adjustment(10, "bayer_gain_auto", 0, 1, "automatic white balance on (1) or off (0)", True),
    Adjustment(11, "gamma", 0, 200, "hundredths, 100 is linear"),
    Adjustment(12, "bayer_mode", 0, 3, "demosaicing method"),
    Adjustment(13, "global_gain", 0, 11, "sensor gain steps"),
    Adjustment(14, "color_gain_red", 0, 0, "kept for the analog dialog, only 0"),
    Adjustment(15, "color_gain_green1", 0, 0, "kept for the analog dialog, only 0"),
    Adjustment(16, "color_gain_green2", 0, 0, "kept for the analog dialog, only 0"),
    Adjustment(17, "color_gain_blue", 0, 0, "kept for the analog dialog, only 0"),
    Adjustment(18, "exposure_time", 1, 32767, "sensor lines"),
    Adjustment(19, "gray_mode", 0, 2, "monochrome correction mode"),
    Adjustment(20, "gray_gain_r", 0, 255, "1/128, 128 leaves the cell as it is"),
    Adjustment(21, "gray_gain_g1", 0, 255, "1/128, 128 leaves the cell as it is"),
    Adjustment(22, "gray_gain_g2", 0, 255, "1/128, 128 leaves the cell as it is"),
    Adjustment(23, "gray_gain_b", 0, 255, "1/128, 128 leaves the cell as it is"),
    Adjustment(24, "gray_offset_r", -255, 255, "added to the cell"),
    Adjustment(25, "gray_offset_g1", -255, 255, "added to the cell"),
    Adjustment(26, "gray_offset_g2", -255, 255, "added to the cell"),
    Adjustment(27, "gray_offset_b", -255, 255, "added to the cell"),
    Adjustment(28, "gray_auto_balance", 0, 1, "one monochrome balance measurement when 1"),
)

BY_NAME = {a.name: a for a in ADJUSTMENTS}
