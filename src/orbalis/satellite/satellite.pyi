"""Type stubs of ``Satellite``, ``State`` and ``StateVector``.

``time`` arguments take whatever ``Time(value)`` reads; ``r`` and ``v`` are writable (N, 3)
float64 buffers, viewed in place.  Reading an attribute named after a frame (``sv.ITRF``)
converts the state vector, which is why ``StateVector`` declares ``__getattr__``;
``to_frame`` does the same with a checked argument.
"""

from typing import Any, ClassVar, NoReturn, TypeAlias

import numpy as np
from numpy.typing import NDArray
from typing_extensions import Self, disjoint_base

from orbalis.frames.frames import Frame
from orbalis.time.time import Time
from orbalis.typing import DatetimeLike as DatetimeLike
from orbalis.typing import _TimeInput

_Rows: TypeAlias = NDArray[np.float64] | memoryview

class FrameAttributeError(ValueError, AttributeError):
    """Raised for a StateVector attribute that is neither defined nor a frame name."""

@disjoint_base
class Satellite:
    """Satellite() -> None"""

    def __init__(self) -> None: ...
    @property
    def time(self) -> Time | None:
        """Satellite.time: Time"""
    @time.setter
    def time(self, value: _TimeInput) -> None: ...
    @property
    def _time(self) -> Time | None: ...
    def __reduce__(self) -> NoReturn: ...
    def __setstate__(self, state: object, /) -> NoReturn: ...

@disjoint_base
class State:
    """A reference frame and a time, each None until loaded from a pickle."""

    def __new__(cls, *args: object, **kwargs: object) -> Self: ...
    @property
    def frame(self) -> Frame | None: ...
    @property
    def time(self) -> Time | None: ...
    def __reduce__(self) -> tuple[Any, ...]:
        """State.__reduce__(self)"""
    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """State.__setstate__(self, state: tuple) -> None"""

@disjoint_base
class StateVector(State):
    """StateVector(time, r, v, frame="GCRF"): N epochs of position (m) and velocity (m/s) in
    one frame, as writable views of the caller's (N, 3) float64 arrays (never copied)."""

    def __new__(cls, time: _TimeInput, r: _Rows, v: _Rows, frame: Frame | str = "GCRF") -> Self: ...
    @property
    def time(self) -> Time: ...
    @property
    def frame(self) -> Frame: ...
    @property
    def r(self) -> NDArray[np.float64]:
        """StateVector.r: ndarray"""
    @property
    def v(self) -> NDArray[np.float64]:
        """StateVector.v: ndarray"""
    @property
    def coe(self) -> NDArray[np.float64]:
        """StateVector.coe: ndarray"""
    @property
    def lla(self) -> NDArray[np.float64]:
        """StateVector.lla: ndarray"""
    def to_frame(self, frame: Frame | str) -> StateVector:
        """StateVector.to_frame(self, frame: Frame | str) -> StateVector"""
    def __getattr__(self, item: str, /) -> StateVector:
        """StateVector.__getattr__(self, item: str) -> StateVector"""
    def __eq__(self, value: object, /) -> bool | np.bool_: ...  # type: ignore[override]
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __reduce__(self) -> NoReturn: ...
    def __setstate__(self, state: object, /) -> NoReturn: ...

def __pyx_unpickle_State(
    __pyx_type: type[State], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None, /
) -> State:
    """__pyx_unpickle_State(__pyx_type, long __pyx_checksum, __pyx_state)"""
