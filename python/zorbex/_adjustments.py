"""The image adjustment values: their ids, Python names and accepted ranges.

Read from the library's own table (values.h) the first time they are used,
so that ``import zorbex`` works without the library and the list never
drifts from what the library checks.
"""
from __future__ import annotations

import re
import threading
from typing import Dict, Iterator, Mapping, NamedTuple, Optional, Sequence, Tuple, Union, overload

from . import _library

_FIRST_FILTER_ID = 1
_LAST_FILTER_ID = 28


class Adjustment(NamedTuple):
    """One image adjustment value of the library.

    ``low``/``high`` are the range the library accepts; ``None`` means any
    32-bit value (the packed Bayer gains) and ``flag`` values are stored as
    0 or 1.  ``unit`` says what the numbers mean; ``default`` is what the
    camera starts with (``None`` for values that follow others).
    """
    id: int
    name: str
    low: Optional[int]
    high: Optional[int]
    unit: str
    flag: bool = False
    default: Optional[int] = None


def python_name(table_name: str) -> str:
    """"BayerGainRGB" -> "bayer_gain_rgb", "GrayGainG1" -> "gray_gain_g1"."""
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", table_name).lower()


def _from_info(info: _library.ValueInfo) -> Adjustment:
    flags = info.flags
    default = None if flags & _library.VALUE_DERIVED else info.default_value
    meaning = info.meaning.decode("utf-8")
    name = python_name(info.name.decode("utf-8"))
    if flags & _library.VALUE_PACKED:
        return Adjustment(info.id, name, None, None, meaning, False, default)
    if flags & _library.VALUE_SWITCH:
        return Adjustment(info.id, name, 0, 1, meaning, True, default)
    return Adjustment(info.id, name, info.min, info.max, meaning, False, default)


_lock = threading.Lock()
_table: Optional[Tuple[Adjustment, ...]] = None


def _adjustments() -> Tuple[Adjustment, ...]:
    global _table
    if _table is None:
        with _lock:
            if _table is None:
                _table = tuple(_from_info(i) for i in _library.value_table()
                               if _FIRST_FILTER_ID <= i.id <= _LAST_FILTER_ID)
    return _table


class _Adjustments(Sequence[Adjustment]):
    """The adjustment values in id order, loaded from the library on first use."""

    @overload
    def __getitem__(self, index: int) -> Adjustment: ...

    @overload
    def __getitem__(self, index: slice) -> Sequence[Adjustment]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Adjustment, Sequence[Adjustment]]:
        return _adjustments()[index]

    def __len__(self) -> int:
        return len(_adjustments())

    def __repr__(self) -> str:
        return repr(_adjustments())


class _ByName(Mapping[str, Adjustment]):
    """The adjustment values by Python name."""

    def _map(self) -> Dict[str, Adjustment]:
        return {a.name: a for a in _adjustments()}

    def __getitem__(self, name: str) -> Adjustment:
        return self._map()[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._map())

    def __len__(self) -> int:
        return len(_adjustments())


ADJUSTMENTS: Sequence[Adjustment] = _Adjustments()
BY_NAME: Mapping[str, Adjustment] = _ByName()
