"""Type stub of ``orbalis.geodesy``: pymap3d's functions over NumPy ufuncs, in degrees by
default (``deg=True``) and metres.

Each function has these forms.  Plain numbers give a tuple of three NumPy floats; numbers,
sequences and NumPy arrays, with at least one array among them, give a tuple of three float64
arrays of the broadcast shape; with a wrapped array among the arguments (a pandas Series, an
xarray DataArray, a dask array: anything with ``values`` or ``compute``) the result is a
tuple of three objects of that kind, typed ``Any``, and there is one such form per argument
position, so that a call on NumPy arrays alone never matches one of them.
"""

from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Protocol, SupportsFloat, TypeAlias, overload

import numpy as np
from numpy.typing import NDArray

from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid as _CoreEllipsoid
from orbalis.typing import _Real

__all__ = [
    "ELLIPSOID_NAMES",
    "Ellipsoid",
    "GRS80",
    "WGS72",
    "WGS84",
    "aer2ecef",
    "aer2enu",
    "aer2geodetic",
    "aer2ned",
    "ecef2aer",
    "ecef2enu",
    "ecef2enuv",
    "ecef2geodetic",
    "ecef2ned",
    "enu2aer",
    "enu2ecef",
    "enu2ecefv",
    "enu2geodetic",
    "geodetic2aer",
    "geodetic2ecef",
    "geodetic2enu",
    "geodetic2ned",
    "lookAtSpheroid",
    "ned2aer",
    "ned2ecef",
    "ned2geodetic",
]

class _Spheroid(Protocol):
    """An ellipsoid given by its semi-axes in metres (pymap3d's ``Ellipsoid``)."""

    @property
    def semimajor_axis(self) -> SupportsFloat: ...
    @property
    def semiminor_axis(self) -> SupportsFloat: ...

# None is WGS-84; a str is a name of ELLIPSOID_NAMES, in any case
_Ell: TypeAlias = _CoreEllipsoid | str | _Spheroid | None
_Numbers: TypeAlias = _Real | NDArray[Any] | Sequence[Any]

class _HasValues(Protocol):
    @property
    def values(self) -> Any: ...

class _Lazy(Protocol):
    def compute(self, **kwargs: Any) -> Any: ...

_Wrapped: TypeAlias = _HasValues | _Lazy
_Any: TypeAlias = _Numbers | _Wrapped
_Points: TypeAlias = tuple[np.float64, np.float64, np.float64]
_Arrays: TypeAlias = tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]]

ELLIPSOID_NAMES: tuple[str, ...]
GRS80: _CoreEllipsoid
WGS72: _CoreEllipsoid
WGS84: _CoreEllipsoid

@dataclass(frozen=True)
class Ellipsoid:
    """An ellipsoid of revolution as pymap3d gives it: its semi-axes in metres, with a name and
    a model label. ``Ellipsoid.from_name("grs80")`` takes a name of ``ELLIPSOID_NAMES``.
    Unlike the core ``orbalis.Ellipsoid`` it pickles, so it can go to other processes."""

    semimajor_axis: float
    semiminor_axis: float
    name: str = ""
    model: str = ""
    def __post_init__(self) -> None: ...
    @classmethod
    def from_name(cls, name: str) -> Ellipsoid:
        """The named ellipsoid (case-insensitive); ValueError lists the known names."""
    @property
    def flattening(self) -> float:
        """f = (a - b) / a."""
    @property
    def thirdflattening(self) -> float:
        """n = (a - b) / (a + b)."""
    @property
    def eccentricity(self) -> float:
        """e = sqrt(a^2 - b^2) / a."""

@overload
def aer2ecef(  # type: ignore[overload-overlap]
    az: _Real,
    el: _Real,
    srange: _Real,
    lat0: _Real,
    lon0: _Real,
    alt0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """Azimuth, elevation, slant range (m) from (lat0, lon0, alt0) to ECEF x, y, z (m)."""

@overload
def aer2ecef(
    az: _Numbers,
    el: _Numbers,
    srange: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    alt0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def aer2ecef(
    az: _Wrapped,
    el: _Any,
    srange: _Any,
    lat0: _Any,
    lon0: _Any,
    alt0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ecef(
    az: _Any,
    el: _Wrapped,
    srange: _Any,
    lat0: _Any,
    lon0: _Any,
    alt0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ecef(
    az: _Any,
    el: _Any,
    srange: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    alt0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ecef(
    az: _Any,
    el: _Any,
    srange: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    alt0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ecef(
    az: _Any,
    el: _Any,
    srange: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    alt0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ecef(
    az: _Any,
    el: _Any,
    srange: _Any,
    lat0: _Any,
    lon0: _Any,
    alt0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2enu(az: _Real, el: _Real, srange: _Real, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """Azimuth, elevation and slant range (m) to East, North, Up (m)."""

@overload
def aer2enu(az: _Numbers, el: _Numbers, srange: _Numbers, deg: bool = True) -> _Arrays: ...
@overload
def aer2enu(az: _Wrapped, el: _Any, srange: _Any, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def aer2enu(az: _Any, el: _Wrapped, srange: _Any, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def aer2enu(az: _Any, el: _Any, srange: _Wrapped, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def aer2geodetic(  # type: ignore[overload-overlap]
    az: _Real,
    el: _Real,
    srange: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """Azimuth, elevation, slant range (m) from (lat0, lon0, h0) to geodetic lat, lon, alt."""

@overload
def aer2geodetic(
    az: _Numbers,
    el: _Numbers,
    srange: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def aer2geodetic(
    az: _Wrapped,
    el: _Any,
    srange: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2geodetic(
    az: _Any,
    el: _Wrapped,
    srange: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2geodetic(
    az: _Any,
    el: _Any,
    srange: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2geodetic(
    az: _Any,
    el: _Any,
    srange: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2geodetic(
    az: _Any,
    el: _Any,
    srange: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2geodetic(
    az: _Any,
    el: _Any,
    srange: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ned(az: _Real, elev: _Real, slantRange: _Real, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """Azimuth, elevation and slant range (m) to North, East, Down (m)."""

@overload
def aer2ned(az: _Numbers, elev: _Numbers, slantRange: _Numbers, deg: bool = True) -> _Arrays: ...
@overload
def aer2ned(
    az: _Wrapped, elev: _Any, slantRange: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ned(
    az: _Any, elev: _Wrapped, slantRange: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def aer2ned(
    az: _Any, elev: _Any, slantRange: _Wrapped, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2aer(  # type: ignore[overload-overlap]
    x: _Real,
    y: _Real,
    z: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """ECEF x, y, z (m) to azimuth, elevation and slant range (m) seen from (lat0, lon0,
    h0)."""

@overload
def ecef2aer(
    x: _Numbers,
    y: _Numbers,
    z: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def ecef2aer(
    x: _Wrapped,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2aer(
    x: _Any,
    y: _Wrapped,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2aer(
    x: _Any,
    y: _Any,
    z: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2aer(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2aer(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2aer(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enu(  # type: ignore[overload-overlap]
    x: _Real,
    y: _Real,
    z: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """ECEF x, y, z (m) to East, North, Up (m) from the observer at (lat0, lon0, h0)."""

@overload
def ecef2enu(
    x: _Numbers,
    y: _Numbers,
    z: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def ecef2enu(
    x: _Wrapped,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enu(
    x: _Any,
    y: _Wrapped,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enu(
    x: _Any,
    y: _Any,
    z: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enu(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enu(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enu(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enuv(u: _Real, v: _Real, w: _Real, lat0: _Real, lon0: _Real, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """Rotates the ECEF vector (u, v, w) into East, North, Up at (lat0, lon0)."""

@overload
def ecef2enuv(
    u: _Numbers, v: _Numbers, w: _Numbers, lat0: _Numbers, lon0: _Numbers, deg: bool = True
) -> _Arrays: ...
@overload
def ecef2enuv(
    u: _Wrapped, v: _Any, w: _Any, lat0: _Any, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enuv(
    u: _Any, v: _Wrapped, w: _Any, lat0: _Any, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enuv(
    u: _Any, v: _Any, w: _Wrapped, lat0: _Any, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enuv(
    u: _Any, v: _Any, w: _Any, lat0: _Wrapped, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2enuv(
    u: _Any, v: _Any, w: _Any, lat0: _Any, lon0: _Wrapped, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2geodetic(x: _Real, y: _Real, z: _Real, ell: _Ell = None, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """ECEF x, y, z (m) to geodetic latitude, longitude and altitude (m)."""

@overload
def ecef2geodetic(
    x: _Numbers, y: _Numbers, z: _Numbers, ell: _Ell = None, deg: bool = True
) -> _Arrays: ...
@overload
def ecef2geodetic(
    x: _Wrapped, y: _Any, z: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2geodetic(
    x: _Any, y: _Wrapped, z: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2geodetic(
    x: _Any, y: _Any, z: _Wrapped, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2ned(  # type: ignore[overload-overlap]
    x: _Real,
    y: _Real,
    z: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """ECEF x, y, z (m) to North, East, Down (m) from the observer at (lat0, lon0, h0)."""

@overload
def ecef2ned(
    x: _Numbers,
    y: _Numbers,
    z: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def ecef2ned(
    x: _Wrapped,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2ned(
    x: _Any,
    y: _Wrapped,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2ned(
    x: _Any,
    y: _Any,
    z: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2ned(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2ned(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ecef2ned(
    x: _Any,
    y: _Any,
    z: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2aer(e: _Real, n: _Real, u: _Real, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """East, North, Up (m) to azimuth, elevation and slant range (m)."""

@overload
def enu2aer(e: _Numbers, n: _Numbers, u: _Numbers, deg: bool = True) -> _Arrays: ...
@overload
def enu2aer(e: _Wrapped, n: _Any, u: _Any, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def enu2aer(e: _Any, n: _Wrapped, u: _Any, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def enu2aer(e: _Any, n: _Any, u: _Wrapped, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecef(  # type: ignore[overload-overlap]
    e1: _Real,
    n1: _Real,
    u1: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """East, North, Up (m) from the observer at (lat0, lon0, h0) to ECEF x, y, z (m)."""

@overload
def enu2ecef(
    e1: _Numbers,
    n1: _Numbers,
    u1: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def enu2ecef(
    e1: _Wrapped,
    n1: _Any,
    u1: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecef(
    e1: _Any,
    n1: _Wrapped,
    u1: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecef(
    e1: _Any,
    n1: _Any,
    u1: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecef(
    e1: _Any,
    n1: _Any,
    u1: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecef(
    e1: _Any,
    n1: _Any,
    u1: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecef(
    e1: _Any,
    n1: _Any,
    u1: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecefv(e: _Real, n: _Real, u: _Real, lat0: _Real, lon0: _Real, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """Rotates the East, North, Up vector at (lat0, lon0) into ECEF axes (u, v, w)."""

@overload
def enu2ecefv(
    e: _Numbers, n: _Numbers, u: _Numbers, lat0: _Numbers, lon0: _Numbers, deg: bool = True
) -> _Arrays: ...
@overload
def enu2ecefv(
    e: _Wrapped, n: _Any, u: _Any, lat0: _Any, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecefv(
    e: _Any, n: _Wrapped, u: _Any, lat0: _Any, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecefv(
    e: _Any, n: _Any, u: _Wrapped, lat0: _Any, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecefv(
    e: _Any, n: _Any, u: _Any, lat0: _Wrapped, lon0: _Any, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def enu2ecefv(
    e: _Any, n: _Any, u: _Any, lat0: _Any, lon0: _Wrapped, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def enu2geodetic(  # type: ignore[overload-overlap]
    e: _Real,
    n: _Real,
    u: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """East, North, Up (m) from the observer at (lat0, lon0, h0) to geodetic lat, lon, alt."""

@overload
def enu2geodetic(
    e: _Numbers,
    n: _Numbers,
    u: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def enu2geodetic(
    e: _Wrapped,
    n: _Any,
    u: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2geodetic(
    e: _Any,
    n: _Wrapped,
    u: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2geodetic(
    e: _Any,
    n: _Any,
    u: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2geodetic(
    e: _Any,
    n: _Any,
    u: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2geodetic(
    e: _Any,
    n: _Any,
    u: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def enu2geodetic(
    e: _Any,
    n: _Any,
    u: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2aer(  # type: ignore[overload-overlap]
    lat: _Real,
    lon: _Real,
    h: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """Geodetic point to azimuth, elevation and slant range (m) seen from (lat0, lon0, h0)."""

@overload
def geodetic2aer(
    lat: _Numbers,
    lon: _Numbers,
    h: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def geodetic2aer(
    lat: _Wrapped,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2aer(
    lat: _Any,
    lon: _Wrapped,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2aer(
    lat: _Any,
    lon: _Any,
    h: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2aer(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2aer(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2aer(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ecef(  # type: ignore[overload-overlap]
    lat: _Real, lon: _Real, alt: _Real, ell: _Ell = None, deg: bool = True
) -> _Points:
    """Geodetic latitude, longitude and altitude (m) to ECEF x, y, z (m)."""

@overload
def geodetic2ecef(
    lat: _Numbers, lon: _Numbers, alt: _Numbers, ell: _Ell = None, deg: bool = True
) -> _Arrays: ...
@overload
def geodetic2ecef(
    lat: _Wrapped, lon: _Any, alt: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ecef(
    lat: _Any, lon: _Wrapped, alt: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ecef(
    lat: _Any, lon: _Any, alt: _Wrapped, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2enu(  # type: ignore[overload-overlap]
    lat: _Real,
    lon: _Real,
    h: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """Geodetic point to East, North, Up (m) from the observer at (lat0, lon0, h0)."""

@overload
def geodetic2enu(
    lat: _Numbers,
    lon: _Numbers,
    h: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def geodetic2enu(
    lat: _Wrapped,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2enu(
    lat: _Any,
    lon: _Wrapped,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2enu(
    lat: _Any,
    lon: _Any,
    h: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2enu(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2enu(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2enu(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ned(  # type: ignore[overload-overlap]
    lat: _Real,
    lon: _Real,
    h: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """Geodetic point to North, East, Down (m) from the observer at (lat0, lon0, h0)."""

@overload
def geodetic2ned(
    lat: _Numbers,
    lon: _Numbers,
    h: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def geodetic2ned(
    lat: _Wrapped,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ned(
    lat: _Any,
    lon: _Wrapped,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ned(
    lat: _Any,
    lon: _Any,
    h: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ned(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ned(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def geodetic2ned(
    lat: _Any,
    lon: _Any,
    h: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def lookAtSpheroid(  # type: ignore[overload-overlap]
    lat0: _Real, lon0: _Real, h0: _Real, az: _Real, tilt: _Real, ell: _Ell = None, deg: bool = True
) -> _Points:
    """Latitude, longitude and slant range (m) of the first point where the half-line from
    the observer at (lat0, lon0, h0), at azimuth `az` and `tilt` from the nadir, meets the
    ellipsoid; NaN where it misses."""

@overload
def lookAtSpheroid(
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    az: _Numbers,
    tilt: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def lookAtSpheroid(
    lat0: _Wrapped, lon0: _Any, h0: _Any, az: _Any, tilt: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def lookAtSpheroid(
    lat0: _Any, lon0: _Wrapped, h0: _Any, az: _Any, tilt: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def lookAtSpheroid(
    lat0: _Any, lon0: _Any, h0: _Wrapped, az: _Any, tilt: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def lookAtSpheroid(
    lat0: _Any, lon0: _Any, h0: _Any, az: _Wrapped, tilt: _Any, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def lookAtSpheroid(
    lat0: _Any, lon0: _Any, h0: _Any, az: _Any, tilt: _Wrapped, ell: _Ell = None, deg: bool = True
) -> tuple[Any, Any, Any]: ...
@overload
def ned2aer(n: _Real, e: _Real, d: _Real, deg: bool = True) -> _Points:  # type: ignore[overload-overlap]
    """North, East, Down (m) to azimuth, elevation and slant range (m)."""

@overload
def ned2aer(n: _Numbers, e: _Numbers, d: _Numbers, deg: bool = True) -> _Arrays: ...
@overload
def ned2aer(n: _Wrapped, e: _Any, d: _Any, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def ned2aer(n: _Any, e: _Wrapped, d: _Any, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def ned2aer(n: _Any, e: _Any, d: _Wrapped, deg: bool = True) -> tuple[Any, Any, Any]: ...
@overload
def ned2ecef(  # type: ignore[overload-overlap]
    n: _Real,
    e: _Real,
    d: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """North, East, Down (m) from the observer at (lat0, lon0, h0) to ECEF x, y, z (m)."""

@overload
def ned2ecef(
    n: _Numbers,
    e: _Numbers,
    d: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def ned2ecef(
    n: _Wrapped,
    e: _Any,
    d: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2ecef(
    n: _Any,
    e: _Wrapped,
    d: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2ecef(
    n: _Any,
    e: _Any,
    d: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2ecef(
    n: _Any,
    e: _Any,
    d: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2ecef(
    n: _Any,
    e: _Any,
    d: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2ecef(
    n: _Any,
    e: _Any,
    d: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2geodetic(  # type: ignore[overload-overlap]
    n: _Real,
    e: _Real,
    d: _Real,
    lat0: _Real,
    lon0: _Real,
    h0: _Real,
    ell: _Ell = None,
    deg: bool = True,
) -> _Points:
    """North, East, Down (m) from the observer at (lat0, lon0, h0) to geodetic lat, lon,
    alt."""

@overload
def ned2geodetic(
    n: _Numbers,
    e: _Numbers,
    d: _Numbers,
    lat0: _Numbers,
    lon0: _Numbers,
    h0: _Numbers,
    ell: _Ell = None,
    deg: bool = True,
) -> _Arrays: ...
@overload
def ned2geodetic(
    n: _Wrapped,
    e: _Any,
    d: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2geodetic(
    n: _Any,
    e: _Wrapped,
    d: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2geodetic(
    n: _Any,
    e: _Any,
    d: _Wrapped,
    lat0: _Any,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2geodetic(
    n: _Any,
    e: _Any,
    d: _Any,
    lat0: _Wrapped,
    lon0: _Any,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2geodetic(
    n: _Any,
    e: _Any,
    d: _Any,
    lat0: _Any,
    lon0: _Wrapped,
    h0: _Any,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
@overload
def ned2geodetic(
    n: _Any,
    e: _Any,
    d: _Any,
    lat0: _Any,
    lon0: _Any,
    h0: _Wrapped,
    ell: _Ell = None,
    deg: bool = True,
) -> tuple[Any, Any, Any]: ...
