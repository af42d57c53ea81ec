"""Type stub of the reference frames: ``Frame``, its single-instance frames ``GCRF``, ``ITRF``
and ``TEME``, and the choice of Earth orientation values."""

import os
from typing import Any, ClassVar, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray
from typing_extensions import Self

from orbalis.frames.eop import EarthOrientationWarning as EarthOrientationWarning
from orbalis.time.time import Time as Time
from orbalis.typing import _TimeInput

__all__ = [
    "Frame",
    "GCRF",
    "ITRF",
    "TEME",
    "OMEGA_EARTH",
    "EarthOrientationWarning",
    "set_earth_orientation",
    "clear_earth_orientation",
    "load_earth_orientation",
    "earth_orientation",
]

OMEGA_EARTH: float

@overload
def set_earth_orientation(mjd: None) -> None:
    """set_earth_orientation(mjd, dut1, xp, yp, lod=None) -> None

    ``set_earth_orientation(None)`` selects zero Earth orientation."""

@overload
def set_earth_orientation(
    mjd: ArrayLike, dut1: ArrayLike, xp: ArrayLike, yp: ArrayLike, lod: ArrayLike | None = None
) -> None: ...
def clear_earth_orientation() -> None:
    """clear_earth_orientation() -> None"""

def load_earth_orientation(path: str | os.PathLike[str]) -> None:
    """load_earth_orientation(path) -> None"""

def earth_orientation(time: _TimeInput) -> dict[str, NDArray[np.float64]]:
    """earth_orientation(time) -> dict"""

class _FrameType(type):
    def __getitem__(cls, name: Frame | str) -> Frame:
        """Frame[name] -> the frame object called name (the same object every time)."""

class Frame(metaclass=_FrameType):
    __slots__ = ()
    name: ClassVar[str]
    description: ClassVar[str]
    earth_fixed: ClassVar[bool]
    def __new__(cls) -> Self: ...
    @staticmethod
    def is_frame(name: object) -> bool:
        """Frame.is_frame(name: str) -> bool: whether ``Frame[name]`` resolves name."""
    @staticmethod
    def names() -> tuple[str, ...]:
        """Frame.names() -> tuple[str, ...]: the names of the known frames."""
    def __reduce__(self) -> str: ...
    def __copy__(self) -> Self: ...
    def __deepcopy__(self, memo: Any) -> Self: ...
    def transform_to(
        self,
        target: Frame | str,
        time: _TimeInput,
        r: ArrayLike,
        v: ArrayLike,
        *,
        dut1: ArrayLike | None = None,
        xp: ArrayLike | None = None,
        yp: ArrayLike | None = None,
        lod: ArrayLike | None = None,
    ) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
        """Frame.transform_to(self, target: Frame | str, time: Time, r: ndarray[double],
        v: ndarray[double], *, dut1=None, xp=None, yp=None, lod=None)
        -> tuple[ndarray[double], ndarray[double]]"""

class _GCRF(Frame):
    __slots__ = ()

class _ITRF(Frame):
    __slots__ = ()

class _TEME(Frame):
    __slots__ = ()

GCRF: _GCRF
ITRF: _ITRF
TEME: _TEME
