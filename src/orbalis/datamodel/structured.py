"""NumPy structured dtypes of the geodetic records.

Each dtype lays out its record exactly as the native kernels write it: packed native
float64 fields, no padding. The ``Ellipsoid`` methods allocate their record results with
these dtypes, so results are read by field name (``lla["lat"]``, ``aer["range"]``).
"""

import numpy as np

__all__ = ["SurfCoord_dtype", "LLA_dtype", "ENU_dtype", "AER_dtype"]

#: A point on the surface: geodetic latitude and longitude, radians (16 bytes).
SurfCoord_dtype = np.dtype([("lat", "=f8"), ("lon", "=f8")])

#: Geodetic coordinates: latitude, longitude (radians) and altitude along the normal,
#: in the unit of the ellipsoid's equatorial radius (24 bytes).
LLA_dtype = np.dtype([("lat", "=f8"), ("lon", "=f8"), ("alt", "=f8")])

#: A local East-North-Up basis: three unit 3-vectors in the ellipsoid-fixed frame (72 bytes).
ENU_dtype = np.dtype([("u_east", "=f8", (3,)), ("u_north", "=f8", (3,)), ("u_up", "=f8", (3,))])

#: An observation: azimuth from north towards east and elevation (radians), and slant
#: range in the unit of the ellipsoid's equatorial radius (24 bytes).
AER_dtype = np.dtype([("azimuth", "=f8"), ("elevation", "=f8"), ("range", "=f8")])
