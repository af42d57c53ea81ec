"""orbalis: satellite geometry for Python, with a compiled core.

- ``Ellipsoid`` (and ``WGS84``, ``GRS80``, ``WGS72``): geodetic and Cartesian positions,
  local frames, azimuth-elevation-range, ray intersection; bit-exact, in radians.
- ``geodesy``: the same conversions as NumPy ufuncs with pymap3d's names, in degrees.
- ``TLE``, ``load_tles``, ``SGP4``, ``propagate_catalogue``: element sets and propagation.
- ``StateVector``, ``State``, ``Satellite``: time-tagged orbit states in ``GCRF``, ``ITRF``
  or ``TEME``; ``Time``: epochs in UTC, TAI, TT, UT1 and TDB.
- ``find_passes``, ``Pass``: passes of a satellite over a ground station.

Every name is imported on first use, so ``import orbalis`` itself stays quick.
"""

from importlib import import_module

__version__ = "0.1.0"

# public name -> module that defines it
_LAZY = {
    "Ellipsoid": "orbalis.mathtools.ellipsoid.ellipsoid",
    "WGS84": "orbalis.geodesy",
    "GRS80": "orbalis.geodesy",
    "WGS72": "orbalis.geodesy",
    "TLE": "orbalis.propagators.analytical.sgp4.tle",
    "SGP4": "orbalis.propagators.analytical.sgp4",
    "load_tles": "orbalis.propagators.analytical.sgp4",
    "propagate_catalogue": "orbalis.propagators.analytical.sgp4",
    "TLEFormatWarning": "orbalis.propagators.analytical.sgp4",
    "Satellite": "orbalis.satellite.satellite",
    "State": "orbalis.satellite.satellite",
    "StateVector": "orbalis.satellite.satellite",
    "Time": "orbalis.time.time",
    "Frame": "orbalis.frames",
    "GCRF": "orbalis.frames",
    "ITRF": "orbalis.frames",
    "TEME": "orbalis.frames",
    "EarthOrientationWarning": "orbalis.frames",
    "find_passes": "orbalis.observation",
    "Pass": "orbalis.observation",
}
_SUBMODULES = ("geodesy", "observation", "frames", "time", "datamodel", "typing")

__all__ = ["__version__", *_LAZY, *_SUBMODULES]


def __getattr__(name):
    if name in _LAZY:
        value = getattr(import_module(_LAZY[name]), name)
    elif name in _SUBMODULES:
        value = import_module(f"orbalis.{name}")
    else:
        raise AttributeError(f"module 'orbalis' has no attribute {name!r}")
    globals()[name] = value  # later lookups skip this function
    return value


def __dir__():
    return sorted(set(globals()) | set(__all__))
