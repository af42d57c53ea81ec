"""Type stub of ``Time``: one epoch or an array of epochs, held as a two-part Julian date.

Attributes that give one value per epoch are a Python scalar for a single epoch and an array
for many (``jd`` is a float or a float64 array); the type cannot tell which statically, so
they are unions: ``t.isscalar`` tells at run time.
"""

import datetime
from collections.abc import Iterator
from typing import Any, ClassVar, Literal, TypeAlias, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray
from typing_extensions import Self

from orbalis.typing import _TimeInput

__all__ = ["Time"]

_Scale: TypeAlias = Literal["utc", "tai", "tt", "tdb", "ut1"]
# SI seconds to add or subtract: numbers or arrays of numbers, timedelta, timedelta64
_Seconds: TypeAlias = ArrayLike | datetime.timedelta
_Index: TypeAlias = int | np.integer[Any] | slice | NDArray[np.integer[Any]] | NDArray[np.bool_]

class Time:
    __slots__ = ("_jd1", "_jd2", "_scale", "_f1", "_f2")
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(
        self,
        value: _TimeInput,
        value2: ArrayLike | None = None,
        format: str | None = None,
        scale: str | None = None,
    ) -> None: ...
    @classmethod
    def now(cls) -> Self:
        """Time.now() -> Time: the current epoch from the system clock, in UTC."""
    @property
    def jd1(self) -> NDArray[np.float64]: ...
    @property
    def jd2(self) -> NDArray[np.float64]: ...
    @property
    def scale(self) -> _Scale: ...
    @property
    def shape(self) -> tuple[int, ...]: ...
    @property
    def ndim(self) -> int: ...
    @property
    def size(self) -> int: ...
    @property
    def isscalar(self) -> bool: ...
    @property
    def jd(self) -> float | NDArray[np.float64]: ...
    @property
    def mjd(self) -> float | NDArray[np.float64]: ...
    @property
    def iso(self) -> str | NDArray[np.str_]: ...
    @property
    def utc(self) -> Time: ...
    @property
    def tai(self) -> Time: ...
    @property
    def tt(self) -> Time: ...
    @property
    def tdb(self) -> Time: ...
    @property
    def ut1(self) -> Time: ...
    def to_datetime64(self) -> np.datetime64 | NDArray[np.datetime64]:
        """Time.to_datetime64(self) -> datetime64 | ndarray[datetime64[ns]]"""
    # NumPy arrays defer to Time's operators, so that seconds + t works as t + seconds does
    __array_ufunc__: ClassVar[None]
    def __add__(self, other: _Seconds) -> Time:
        """t + seconds -> Time: later by seconds (a number or array of SI seconds)."""
    def __radd__(self, other: _Seconds) -> Time: ...
    @overload
    def __sub__(self, other: Time) -> float | NDArray[np.float64]:
        """t - seconds -> Time; t - other_time -> float64 seconds"""
    @overload
    def __sub__(self, other: _Seconds) -> Time: ...
    def __lt__(self, other: Time) -> bool | NDArray[np.bool_]: ...
    def __le__(self, other: Time) -> bool | NDArray[np.bool_]: ...
    def __gt__(self, other: Time) -> bool | NDArray[np.bool_]: ...
    def __ge__(self, other: Time) -> bool | NDArray[np.bool_]: ...
    def to_datetime(self) -> datetime.datetime | NDArray[np.object_]:
        """Time.to_datetime(self) -> datetime | ndarray[object]"""
    def __len__(self) -> int: ...
    def __getitem__(self, item: _Index | tuple[_Index, ...]) -> Time: ...
    def __iter__(self) -> Iterator[Time]: ...
    def __eq__(self, other: object) -> bool | NDArray[np.bool_]: ...  # type: ignore[override]
    def __ne__(self, other: object) -> bool | NDArray[np.bool_]: ...  # type: ignore[override]
    def __getstate__(self) -> dict[str, Any]: ...
    def __setstate__(self, state: dict[str, Any]) -> None: ...
