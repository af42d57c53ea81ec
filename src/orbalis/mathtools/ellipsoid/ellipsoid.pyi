"""Type stub of the compiled ``Ellipsoid`` type (radians; lengths in the unit of ``Re``).

The annotations of the run-time signatures map as: ``double`` -> a real number (float, int,
NumPy scalar), ``ndarray[double]`` -> a NumPy array, ``ndarray[LLA_dtype]`` and the other
record results -> ``NDArray[np.void]``, a structured array read by field name
(``lla["lat"]``).  A method with several scalar-or-array inputs takes either all numbers or
all one-dimensional arrays, never a mixture, and the overloads say so.
"""

from typing import Any, NoReturn, overload

import numpy as np
from numpy.typing import NDArray
from typing_extensions import Self, disjoint_base

from orbalis.datamodel import AER_dtype as AER_dtype
from orbalis.datamodel import ENU_dtype as ENU_dtype
from orbalis.datamodel import LLA_dtype as LLA_dtype
from orbalis.datamodel import SurfCoord_dtype as SurfCoord_dtype
from orbalis.typing import _Real

@disjoint_base
class Ellipsoid:
    """Ellipsoid(double Re, double f) -> None

    A reference ellipsoid of revolution: equatorial radius ``Re`` (> 0) and flattening
    ``f`` in [0, 1).  Methods take radians and return float64 arrays or structured records.
    """

    def __new__(cls, Re: _Real, f: _Real) -> Self: ...
    def __init__(self, Re: _Real, f: _Real) -> None: ...
    @property
    def Re(self) -> float: ...
    @property
    def f(self) -> float: ...
    @property
    def Rp(self) -> float: ...
    @overload
    def reduced_lat_from_geodetic_lat(self, geodetic_lat: _Real) -> float: ...
    @overload
    def reduced_lat_from_geodetic_lat(
        self, geodetic_lat: NDArray[np.float64]
    ) -> NDArray[np.float64]: ...
    @overload
    def geodetic_lat_from_reduced_lat(self, reduced_lat: _Real) -> float: ...
    @overload
    def geodetic_lat_from_reduced_lat(
        self, reduced_lat: NDArray[np.float64]
    ) -> NDArray[np.float64]: ...
    @overload
    def enu(self, lat: _Real, lon: _Real) -> NDArray[np.void]: ...
    @overload
    def enu(self, lat: NDArray[Any], lon: NDArray[Any]) -> NDArray[np.void]: ...
    @overload
    def surf_pos_from_surf_coord(self, lat: _Real, lon: _Real) -> NDArray[np.float64]: ...
    @overload
    def surf_pos_from_surf_coord(
        self, lat: NDArray[Any], lon: NDArray[Any]
    ) -> NDArray[np.float64]: ...
    def surf_coord_from_surf_pos(self, r_surf: NDArray[Any]) -> NDArray[np.void]: ...
    def solve_reduced_lat_equation(self, r: NDArray[Any]) -> float | NDArray[np.float64]: ...
    def lla_from_pos(self, r: NDArray[Any]) -> NDArray[np.void]: ...
    @overload
    def pos_from_lla(self, lat: _Real, lon: _Real, alt: _Real) -> NDArray[np.float64]: ...
    @overload
    def pos_from_lla(
        self, lat: NDArray[Any], lon: NDArray[Any], alt: NDArray[Any]
    ) -> NDArray[np.float64]: ...
    def surf_pos_of_ray_first_intersection(
        self, r_source: NDArray[Any], u_ray: NDArray[Any]
    ) -> NDArray[np.float64]: ...
    def aer_coords(
        self, r_target: NDArray[Any], lat_obs: _Real, lon_obs: _Real, alt_obs: _Real
    ) -> NDArray[np.void]: ...
    def __reduce__(self) -> NoReturn: ...
    def __setstate__(self, __pyx_state: object, /) -> NoReturn: ...
