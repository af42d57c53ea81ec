"""Type stub of the compiled SGP4/SDP4 propagator: the ``SGP4`` type and
``propagate_catalogue``.  Positions are in metres and velocities in m/s in TEME, except for
``propagate_minutes``, the model's own interface in km and km/s."""

from collections.abc import Iterable
from typing import Literal, NoReturn, TypeAlias, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray
from typing_extensions import Self, disjoint_base

from orbalis.satellite.satellite import StateVector
from orbalis.time.time import Time
from orbalis.typing import _TimeInput, _TLELike

_Gravity: TypeAlias = Literal["wgs72", "wgs72old", "wgs84"]
_Opsmode: TypeAlias = Literal["i", "a"]

@disjoint_base
class SGP4:
    """SGP4(tle, *, gravity="wgs72", opsmode="i")"""

    def __new__(
        cls, tle: _TLELike, *, gravity: _Gravity = "wgs72", opsmode: _Opsmode = "i"
    ) -> Self: ...
    @overload
    def propagate(self, time: _TimeInput, *, errors: Literal[False] = False) -> StateVector:
        """SGP4.propagate(self, time: Time, *, errors: bool = False) -> StateVector"""
    @overload
    def propagate(
        self, time: _TimeInput, *, errors: Literal[True]
    ) -> tuple[StateVector, NDArray[np.uint8]]: ...
    @overload
    def propagate(
        self, time: _TimeInput, *, errors: bool
    ) -> StateVector | tuple[StateVector, NDArray[np.uint8]]: ...
    @overload
    def propagate_minutes(
        self, tsince: float
    ) -> tuple[NDArray[np.float64], NDArray[np.float64], int]:
        """SGP4.propagate_minutes(self, tsince: float | ndarray[double])
        -> tuple[ndarray, ndarray, ndarray]"""
    @overload
    def propagate_minutes(
        self, tsince: ArrayLike
    ) -> tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.uint8]]: ...
    @property
    def satnum(self) -> int:
        """SGP4.satnum: int (Alpha-5 numbers decoded)"""
    @property
    def epoch(self) -> Time:
        """SGP4.epoch: Time, the exact TLE epoch (UTC)"""
    @property
    def inclination(self) -> float:
        """SGP4.inclination: float, rad"""
    @property
    def raan(self) -> float:
        """SGP4.raan: float, right ascension of the node, rad"""
    @property
    def eccentricity(self) -> float:
        """SGP4.eccentricity: float"""
    @property
    def arg_perigee(self) -> float:
        """SGP4.arg_perigee: float, rad"""
    @property
    def mean_anomaly(self) -> float:
        """SGP4.mean_anomaly: float, rad"""
    @property
    def mean_motion(self) -> float:
        """SGP4.mean_motion: float, rad/min (the TLE's Kozai mean motion)"""
    @property
    def bstar(self) -> float:
        """SGP4.bstar: float, 1/earth radii, as in the TLE"""
    @property
    def ndot(self) -> float:
        """SGP4.ndot: float, rev/day^2, as in the TLE"""
    @property
    def nddot(self) -> float:
        """SGP4.nddot: float, rev/day^3, as in the TLE"""
    @property
    def classification(self) -> str:
        """SGP4.classification: str"""
    @property
    def intldesg(self) -> str:
        """SGP4.intldesg: str"""
    @property
    def element_number(self) -> int:
        """SGP4.element_number: int"""
    @property
    def rev_number(self) -> int:
        """SGP4.rev_number: int"""
    @property
    def is_deep_space(self) -> bool:
        """SGP4.is_deep_space: bool, period of 225 min or more (SDP4)"""
    @property
    def gravity(self) -> _Gravity:
        """SGP4.gravity: str"""
    @property
    def opsmode(self) -> _Opsmode:
        """SGP4.opsmode: str"""
    def __reduce__(self) -> NoReturn: ...
    def __setstate__(self, state: object, /) -> NoReturn: ...

def propagate_catalogue(
    sources: Iterable[_TLELike | SGP4], time: _TimeInput, *, threads: int | None = None
) -> tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.uint8]]:
    """propagate_catalogue(sources, time, *, threads=None) -> tuple[ndarray, ndarray, ndarray]"""
