"""Type stub of the geodesy ufuncs (radians, metres; semi-axes a, b as the last inputs)."""

import numpy as np

aer2ecef: np.ufunc
aer2enu: np.ufunc
aer2geodetic: np.ufunc
ecef2aer: np.ufunc
ecef2enu: np.ufunc
ecef2enuv: np.ufunc
ecef2geodetic: np.ufunc
enu2aer: np.ufunc
enu2ecef: np.ufunc
enu2ecefv: np.ufunc
enu2geodetic: np.ufunc
geodetic2aer: np.ufunc
geodetic2ecef: np.ufunc
geodetic2enu: np.ufunc
lookAtSpheroid: np.ufunc
_atan2: np.ufunc
_cos: np.ufunc
_sin: np.ufunc

def point(ufunc: np.ufunc, /, *args: float) -> tuple[np.float64, ...] | None:
    """point(ufunc, *args) -> tuple | None"""
