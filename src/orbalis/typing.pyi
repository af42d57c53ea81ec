"""Type stub of ``orbalis.typing``: the public alias ``DatetimeLike`` and the private aliases
the other stubs of the package share (kept here, in a module that exists at run time)."""

import datetime
from collections.abc import Sequence
from typing import Any, Protocol, TypeAlias

import numpy as np
from numpy.typing import ArrayLike, NDArray

from orbalis.time.time import Time

DatetimeLike: TypeAlias = (
    Time | str | datetime.datetime | datetime.date | np.datetime64 | NDArray[Any] | float | int
)

# One number where a method takes a double: Python int, float and bool, NumPy integer and
# floating scalars (the numbers a method's scalar test accepts).
_Real: TypeAlias = float | np.floating[Any] | np.integer[Any]

class _AstropyTimeLike(Protocol):
    """A foreign time object read by its two-part Julian date and scale."""

    @property
    def jd1(self) -> Any: ...
    @property
    def jd2(self) -> Any: ...
    @property
    def scale(self) -> str: ...

# Everything ``Time(value)`` reads: a Time, ISO text, dates and datetimes, datetime64 values
# and arrays, numbers (with format="jd" or "mjd"), sequences of these, and the array-likes of
# pandas (DatetimeIndex, Series) through NumPy's array protocol.
_TimeInput: TypeAlias = (
    Time
    | str
    | datetime.date
    | np.datetime64
    | ArrayLike
    | Sequence[str | datetime.date | np.datetime64 | Time]
    | _AstropyTimeLike
)

class _TLELike(Protocol):
    """Anything holding the two lines of an element set as str attributes (a ``TLE``)."""

    @property
    def line1(self) -> str: ...
    @property
    def line2(self) -> str: ...
