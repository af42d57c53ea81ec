"""Type stub of the pass finder: ``find_passes`` and its results, ``Pass``."""

from typing import Any, NamedTuple, Protocol

from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
from orbalis.propagators.analytical.sgp4.sgp4 import SGP4
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.time.time import Time
from orbalis.typing import _Real, _TimeInput

__all__ = ["Pass", "find_passes"]

TOLERANCE_S: float

class _Propagator(Protocol):
    """A propagator of one's own: ``propagate(time)`` returns a TEME ``StateVector`` in metres
    and m/s, ``propagate(time, errors=True)`` that and one error code per epoch."""

    def propagate(self, time: Time, *, errors: bool = ...) -> Any: ...

class Pass(NamedTuple):
    """One pass of a satellite above the elevation threshold of a station."""

    rise: Time | None
    culmination: Time | None
    set: Time | None
    max_elevation: float
    rise_azimuth: float | None
    set_azimuth: float | None

def find_passes(
    satellite: SGP4 | TLE | _Propagator,
    lat: _Real,
    lon: _Real,
    alt: _Real,
    start: _TimeInput,
    stop: _TimeInput,
    *,
    min_elevation: _Real = 0.0,
    ellipsoid: Ellipsoid | None = None,
) -> list[Pass]:
    """find_passes(satellite, lat: float, lon: float, alt: float, start, stop, *,
    min_elevation: float = 0.0, ellipsoid: Ellipsoid | None = None) -> list[Pass]"""
