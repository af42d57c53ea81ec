"""Vectorised geodesy with pymap3d's API: ``import orbalis.geodesy as pm`` runs pymap3d code.

Every function has pymap3d's name, argument order and defaults (``ell=None`` is WGS-84,
``deg=True``) and returns a tuple of arrays. Underneath are NumPy ufuncs
(``orbalis.geodesy._ufuncs``, radians and metres), so inputs broadcast (scalars, lists, arrays
of any shape, pandas Series, xarray DataArrays), integer and float32 inputs are cast to
float64, scalar inputs give NumPy floats, and the loops run without the interpreter lock.
Dask arrays stay lazy and are computed chunk by chunk. The functions here only convert
degrees and resolve the ellipsoid; azimuths lie in [0, 360) degrees ([0, 2 pi) radians).

``ell`` may be None (WGS-84), an orbalis ``Ellipsoid``, a name from ``ELLIPSOID_NAMES``
(case-insensitive), or any object with ``semimajor_axis`` and ``semiminor_axis`` attributes
(pymap3d's ``Ellipsoid``). Only names and plain objects pickle: the orbalis ``Ellipsoid``
refuses pickling, so give the ellipsoid by name when the work is sent to other processes.

Numerical notes:

- ``ecef2geodetic`` solves the reduced-latitude equation by Newton's method from the
  geocentric latitude, carrying the angle as its (cos, sin) pair, to a step below 1e-9 rad;
  against a 110-bit reference the latitude is within 3e-16 rad and the height within 3e-8 m
  (2e-15 relative beyond 1e8 m) from 50 km to 1e9 m from the centre. Inside the evolute
  (within ``a e^2``, about 43 km, of the centre on WGS-84), where several normals pass through
  a point, the result is the foot of the normal nearest to the point (the centre itself gives
  latitude 90, height ``-b``). A point on the polar axis has longitude 0.
- The sines, cosines and arctangents are the package's own portable functions (below 1 ulp),
  so results are the same bits on every machine, SIMD width and thread count.
- Calls on plain numbers run the ufunc's loop directly (``_ufuncs.point``), with the same bits
  as the array path and without the ufunc call's fixed cost.
- The loops raise no floating-point warnings. NaN inputs give NaN outputs. An infinite ECEF
  coordinate gives the latitude and longitude of its direction and height +inf; infinite
  angles give NaN.
- ``lookAtSpheroid`` takes the tilt from the nadir and follows the half-line: NaN where it
  misses, and an observer inside the ellipsoid gets the point where the line of sight leaves
  it.
"""

from __future__ import annotations

import functools
import math
import sys

import numpy as np

from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

from . import _ufuncs

__all__ = [
    "ELLIPSOID_NAMES",
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

# Semi-major axis (m) and inverse flattening of the named ellipsoids (clarke1866 is defined
# by its semi-axes: b = 6356583.8 m).
_DEFINITIONS = {
    "wgs84": (6378137.0, 298.257223563),  # NIMA TR8350.2 (2000)
    "grs80": (6378137.0, 298.257222101),  # Moritz, Geodetic Reference System 1980
    "wgs72": (6378135.0, 298.26),
    "wgs66": (6378145.0, 298.25),
    "grs67": (6378160.0, 298.247167427),
    "iers2003": (6378136.6, 298.25642),  # IERS Conventions (2003/2010)
    "pz90.11": (6378136.0, 298.25784),
    "international1924": (6378388.0, 297.0),  # also known as Hayford
    "krassovsky1940": (6378245.0, 298.3),
    "bessel": (6377397.155, 299.1528128),
    "airy": (6377563.396, 299.3249646),
    "clarke1866": (6378206.4, 6378206.4 / (6378206.4 - 6356583.8)),
}
ELLIPSOID_NAMES = tuple(_DEFINITIONS)

WGS84 = Ellipsoid(6378137.0, 1.0 / 298.257223563)
GRS80 = Ellipsoid(6378137.0, 1.0 / 298.257222101)
WGS72 = Ellipsoid(6378135.0, 1.0 / 298.26)

_AXES = {name: (a, a - a / inv_f) for name, (a, inv_f) in _DEFINITIONS.items()}
_AXES["wgs84"] = (WGS84.Re, WGS84.Rp)
_AXES["grs80"] = (GRS80.Re, GRS80.Rp)
_AXES["wgs72"] = (WGS72.Re, WGS72.Rp)

# Degree <-> radian factors. Inputs are scaled by a float64 scalar through np.multiply, so
# float32 inputs are promoted to float64 before scaling and dask, xarray and pandas objects
# stay what they are; plain Python numbers take the short path. Outputs are float64 already.
_RAD_F = math.pi / 180.0
_DEG_F = 180.0 / math.pi
_RAD = np.float64(_RAD_F)


def _axes(ell) -> tuple[float, float]:
    """(a, b) of the ellipsoid argument `ell` (None, Ellipsoid, name or object with axes)."""
    if ell is None:
        return _AXES["wgs84"]
    if isinstance(ell, Ellipsoid):
        a, b = ell.Re, ell.Rp
    elif isinstance(ell, str):
        try:
            return _AXES[ell.lower()]
        except KeyError:
            raise ValueError(
                f"unknown ellipsoid name {ell!r}; known names: {', '.join(ELLIPSOID_NAMES)}"
            ) from None
    else:
        try:
            a, b = float(ell.semimajor_axis), float(ell.semiminor_axis)
        except AttributeError:
            raise TypeError(
                "ell must be None, an Ellipsoid, an ellipsoid name or an object with "
                f"semimajor_axis and semiminor_axis attributes, not {type(ell).__name__}"
            ) from None
    if not (a > 0.0 and 0.0 < b <= a and math.isfinite(a)):
        raise ValueError(f"ellipsoid semi-axes must satisfy a >= b > 0, got a={a!r}, b={b!r}")
    return a, b


def _call(ufunc, *args):
    """ufunc(*args), lazily for dask. Dask's ufunc protocol takes only dask's own
    multiple-output ufuncs, so dask arrays go through dask.array.apply_gufunc with scalar core
    dimensions (chunk by chunk, the same loop on every chunk), and xarray objects holding dask
    arrays through xarray.apply_ufunc around that."""
    # Plain numbers take the ufunc's own loop through _ufuncs.point, without the ufunc call's
    # fixed cost; the results are the same NumPy floats.
    result = _ufuncs.point(ufunc, *args)
    if result is not None:
        return result
    if "dask" in sys.modules:
        import dask.array as da

        if any(isinstance(x, da.Array) for x in args):
            return _apply_dask(da, ufunc, args)
        xr = sys.modules.get("xarray")
        if xr is not None and any(
            isinstance(x, (xr.DataArray, xr.Variable)) and x.chunks is not None for x in args
        ):
            return xr.apply_ufunc(
                functools.partial(_call, ufunc),
                *args,
                output_core_dims=((),) * ufunc.nout,
                dask="allowed",
            )
    return ufunc(*args)


def _apply_dask(da, ufunc, args):
    """ufunc over dask arrays (and arrays or scalars beside them), one task per chunk."""
    arrays = [da.asarray(x) if np.ndim(x) > 0 else x for x in args]
    ndim = max(x.ndim for x in arrays if isinstance(x, da.Array))
    pairs = []
    for x in arrays:
        if isinstance(x, da.Array):  # loop dimensions align from the right, as in NumPy
            pairs += [x, tuple(range(ndim - x.ndim, ndim))]
    _, unified = da.core.unify_chunks(*pairs)
    unified = iter(unified)
    arrays = [next(unified) if isinstance(x, da.Array) else x for x in arrays]
    sig = ",".join(["()"] * ufunc.nin) + "->" + ",".join(["()"] * ufunc.nout)
    return da.apply_gufunc(ufunc, sig, *arrays, output_dtypes=(float,) * ufunc.nout)


def _rad(x, deg):
    if not deg:
        return x
    if type(x) is float or type(x) is int:
        return x * _RAD_F
    return np.multiply(x, _RAD)


def _deg(x, deg):
    # A NumPy array here is a fresh ufunc result, scaled in place: no second array to allocate
    # and fill (the same products as x * _DEG_F).
    if not deg:
        return x
    if type(x) is np.ndarray:
        return np.multiply(x, _DEG_F, out=x)
    return x * _DEG_F


def _deg_azimuth(az, deg):
    # The product can round up to 360 for an azimuth just below 2 pi; 360 is the direction 0.
    # Azimuths lie in [0, 2 pi), so the products lie in [0, 360] and the remainder modulo 360
    # is the product less 360 where it reached 360.
    if not deg:
        return az
    if type(az) is np.ndarray:
        d = np.multiply(az, _DEG_F, out=az)
        np.add(d, 0.0, out=d)  # -0 to +0, as the remainder gives
        return np.subtract(d, 360.0, out=d, where=d >= 360.0)
    d = az * _DEG_F
    if type(d) is np.float64:
        return d - 360.0 if d >= 360.0 else d
    return d % 360.0


def _neg(x):
    """-x for inputs: Python floats directly, anything else (lists too) through np.negative."""
    return -x if type(x) is float else np.negative(x)


def geodetic2ecef(lat, lon, alt, ell=None, deg=True):
    """Geodetic latitude, longitude and altitude (m) to ECEF x, y, z (m)."""
    a, b = _axes(ell)
    return _call(_ufuncs.geodetic2ecef, _rad(lat, deg), _rad(lon, deg), alt, a, b)


def ecef2geodetic(x, y, z, ell=None, deg=True):
    """ECEF x, y, z (m) to geodetic latitude, longitude and altitude (m)."""
    a, b = _axes(ell)
    lat, lon, alt = _call(_ufuncs.ecef2geodetic, x, y, z, a, b)
    return _deg(lat, deg), _deg(lon, deg), alt


def ecef2enu(x, y, z, lat0, lon0, h0, ell=None, deg=True):
    """ECEF x, y, z (m) to East, North, Up (m) from the observer at (lat0, lon0, h0)."""
    a, b = _axes(ell)
    return _call(_ufuncs.ecef2enu, x, y, z, _rad(lat0, deg), _rad(lon0, deg), h0, a, b)


def enu2ecef(e1, n1, u1, lat0, lon0, h0, ell=None, deg=True):
    """East, North, Up (m) from the observer at (lat0, lon0, h0) to ECEF x, y, z (m)."""
    a, b = _axes(ell)
    return _call(_ufuncs.enu2ecef, e1, n1, u1, _rad(lat0, deg), _rad(lon0, deg), h0, a, b)


def geodetic2enu(lat, lon, h, lat0, lon0, h0, ell=None, deg=True):
    """Geodetic point to East, North, Up (m) from the observer at (lat0, lon0, h0)."""
    a, b = _axes(ell)
    return _call(
        _ufuncs.geodetic2enu,
        *(_rad(lat, deg), _rad(lon, deg), h, _rad(lat0, deg), _rad(lon0, deg), h0, a, b),
    )


def enu2geodetic(e, n, u, lat0, lon0, h0, ell=None, deg=True):
    """East, North, Up (m) from the observer at (lat0, lon0, h0) to geodetic lat, lon, alt."""
    a, b = _axes(ell)
    lat, lon, alt = _call(_ufuncs.enu2geodetic, e, n, u, _rad(lat0, deg), _rad(lon0, deg), h0, a, b)
    return _deg(lat, deg), _deg(lon, deg), alt


def ecef2ned(x, y, z, lat0, lon0, h0, ell=None, deg=True):
    """ECEF x, y, z (m) to North, East, Down (m) from the observer at (lat0, lon0, h0)."""
    e, n, u = ecef2enu(x, y, z, lat0, lon0, h0, ell, deg)
    return n, e, -u


def ned2ecef(n, e, d, lat0, lon0, h0, ell=None, deg=True):
    """North, East, Down (m) from the observer at (lat0, lon0, h0) to ECEF x, y, z (m)."""
    return enu2ecef(e, n, _neg(d), lat0, lon0, h0, ell, deg)


def geodetic2ned(lat, lon, h, lat0, lon0, h0, ell=None, deg=True):
    """Geodetic point to North, East, Down (m) from the observer at (lat0, lon0, h0)."""
    e, n, u = geodetic2enu(lat, lon, h, lat0, lon0, h0, ell, deg)
    return n, e, -u


def ned2geodetic(n, e, d, lat0, lon0, h0, ell=None, deg=True):
    """North, East, Down (m) from the observer at (lat0, lon0, h0) to geodetic lat, lon, alt."""
    return enu2geodetic(e, n, _neg(d), lat0, lon0, h0, ell, deg)


def ecef2aer(x, y, z, lat0, lon0, h0, ell=None, deg=True):
    """ECEF x, y, z (m) to azimuth, elevation and slant range (m) seen from (lat0, lon0, h0)."""
    a, b = _axes(ell)
    az, el, srange = _call(_ufuncs.ecef2aer, x, y, z, _rad(lat0, deg), _rad(lon0, deg), h0, a, b)
    return _deg_azimuth(az, deg), _deg(el, deg), srange


def aer2ecef(az, el, srange, lat0, lon0, alt0, ell=None, deg=True):
    """Azimuth, elevation, slant range (m) from (lat0, lon0, alt0) to ECEF x, y, z (m)."""
    a, b = _axes(ell)
    return _call(
        _ufuncs.aer2ecef,
        *(_rad(az, deg), _rad(el, deg), srange, _rad(lat0, deg), _rad(lon0, deg), alt0, a, b),
    )


def geodetic2aer(lat, lon, h, lat0, lon0, h0, ell=None, deg=True):
    """Geodetic point to azimuth, elevation and slant range (m) seen from (lat0, lon0, h0)."""
    a, b = _axes(ell)
    az, el, srange = _call(
        _ufuncs.geodetic2aer,
        *(_rad(lat, deg), _rad(lon, deg), h, _rad(lat0, deg), _rad(lon0, deg), h0, a, b),
    )
    return _deg_azimuth(az, deg), _deg(el, deg), srange


def aer2geodetic(az, el, srange, lat0, lon0, h0, ell=None, deg=True):
    """Azimuth, elevation, slant range (m) from (lat0, lon0, h0) to geodetic lat, lon, alt."""
    a, b = _axes(ell)
    lat, lon, alt = _call(
        _ufuncs.aer2geodetic,
        *(_rad(az, deg), _rad(el, deg), srange, _rad(lat0, deg), _rad(lon0, deg), h0, a, b),
    )
    return _deg(lat, deg), _deg(lon, deg), alt


def enu2aer(e, n, u, deg=True):
    """East, North, Up (m) to azimuth, elevation and slant range (m)."""
    az, el, srange = _call(_ufuncs.enu2aer, e, n, u)
    return _deg_azimuth(az, deg), _deg(el, deg), srange


def aer2enu(az, el, srange, deg=True):
    """Azimuth, elevation and slant range (m) to East, North, Up (m)."""
    return _call(_ufuncs.aer2enu, _rad(az, deg), _rad(el, deg), srange)


def ned2aer(n, e, d, deg=True):
    """North, East, Down (m) to azimuth, elevation and slant range (m)."""
    return enu2aer(e, n, _neg(d), deg)


def aer2ned(az, elev, slantRange, deg=True):  # noqa: N803 (pymap3d's argument name)
    """Azimuth, elevation and slant range (m) to North, East, Down (m)."""
    e, n, u = aer2enu(az, elev, slantRange, deg)
    return n, e, -u


def ecef2enuv(u, v, w, lat0, lon0, deg=True):
    """Rotates the ECEF vector (u, v, w) into East, North, Up at (lat0, lon0)."""
    return _call(_ufuncs.ecef2enuv, u, v, w, _rad(lat0, deg), _rad(lon0, deg))


def enu2ecefv(e, n, u, lat0, lon0, deg=True):
    """Rotates the East, North, Up vector at (lat0, lon0) into ECEF axes (u, v, w)."""
    return _call(_ufuncs.enu2ecefv, e, n, u, _rad(lat0, deg), _rad(lon0, deg))


def lookAtSpheroid(lat0, lon0, h0, az, tilt, ell=None, deg=True):  # noqa: N802 (pymap3d's name)
    """Latitude, longitude and slant range (m) of the first point where the half-line from the
    observer at (lat0, lon0, h0), at azimuth `az` and `tilt` from the nadir, meets the
    ellipsoid; NaN where it misses."""
    a, b = _axes(ell)
    lat, lon, d = _call(
        _ufuncs.lookAtSpheroid,
        *(_rad(lat0, deg), _rad(lon0, deg), h0, _rad(az, deg), _rad(tilt, deg), a, b),
    )
    return _deg(lat, deg), _deg(lon, deg), d
