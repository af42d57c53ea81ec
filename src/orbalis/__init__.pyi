"""Type stub of the package namespace: the names ``orbalis`` loads on first use, with the
types of the modules that define them."""

from orbalis import datamodel as datamodel
from orbalis import frames as frames
from orbalis import geodesy as geodesy
from orbalis import observation as observation
from orbalis import time as time
from orbalis import typing as typing
from orbalis.frames.frames import GCRF as GCRF
from orbalis.frames.frames import ITRF as ITRF
from orbalis.frames.frames import TEME as TEME
from orbalis.frames.frames import EarthOrientationWarning as EarthOrientationWarning
from orbalis.frames.frames import Frame as Frame
from orbalis.geodesy import GRS80 as GRS80
from orbalis.geodesy import WGS72 as WGS72
from orbalis.geodesy import WGS84 as WGS84
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid as Ellipsoid
from orbalis.observation.passes import Pass as Pass
from orbalis.observation.passes import find_passes as find_passes
from orbalis.propagators.analytical.sgp4.catalogue import TLEFormatWarning as TLEFormatWarning
from orbalis.propagators.analytical.sgp4.catalogue import load_tles as load_tles
from orbalis.propagators.analytical.sgp4.sgp4 import SGP4 as SGP4
from orbalis.propagators.analytical.sgp4.sgp4 import propagate_catalogue as propagate_catalogue
from orbalis.propagators.analytical.sgp4.tle import TLE as TLE
from orbalis.satellite.satellite import Satellite as Satellite
from orbalis.satellite.satellite import State as State
from orbalis.satellite.satellite import StateVector as StateVector
from orbalis.time.time import Time as Time

__version__: str
__all__ = [
    "__version__",
    "Ellipsoid",
    "WGS84",
    "GRS80",
    "WGS72",
    "TLE",
    "SGP4",
    "load_tles",
    "propagate_catalogue",
    "TLEFormatWarning",
    "Satellite",
    "State",
    "StateVector",
    "Time",
    "Frame",
    "GCRF",
    "ITRF",
    "TEME",
    "EarthOrientationWarning",
    "find_passes",
    "Pass",
    "geodesy",
    "observation",
    "frames",
    "time",
    "datamodel",
    "typing",
]

def __dir__() -> list[str]: ...
