"""Type stub of the geodesy ufuncs (radians and metres, or degrees and metres for the _deg
twins; semi-axes a, b as the last inputs)."""

import numpy as np

aer2ecef: np.ufunc
aer2ecef_deg: np.ufunc
aer2enu: np.ufunc
aer2enu_deg: np.ufunc
aer2geodetic: np.ufunc
aer2geodetic_deg: np.ufunc
aer2ned: np.ufunc
aer2ned_deg: np.ufunc
ecef2aer: np.ufunc
ecef2aer_deg: np.ufunc
ecef2enu: np.ufunc
ecef2enu_deg: np.ufunc
ecef2enuv: np.ufunc
ecef2enuv_deg: np.ufunc
ecef2geodetic: np.ufunc
ecef2geodetic_deg: np.ufunc
ecef2ned: np.ufunc
ecef2ned_deg: np.ufunc
enu2aer: np.ufunc
enu2aer_deg: np.ufunc
enu2ecef: np.ufunc
enu2ecef_deg: np.ufunc
enu2ecefv: np.ufunc
enu2ecefv_deg: np.ufunc
enu2geodetic: np.ufunc
enu2geodetic_deg: np.ufunc
geodetic2aer: np.ufunc
geodetic2aer_deg: np.ufunc
geodetic2ecef: np.ufunc
geodetic2ecef_deg: np.ufunc
geodetic2enu: np.ufunc
geodetic2enu_deg: np.ufunc
geodetic2ned: np.ufunc
geodetic2ned_deg: np.ufunc
lookAtSpheroid: np.ufunc
lookAtSpheroid_deg: np.ufunc
ned2aer: np.ufunc
ned2aer_deg: np.ufunc
ned2ecef: np.ufunc
ned2ecef_deg: np.ufunc
ned2geodetic: np.ufunc
ned2geodetic_deg: np.ufunc
_atan2: np.ufunc
_cos: np.ufunc
_sin: np.ufunc

def point(ufunc: np.ufunc, /, *args: float) -> tuple[np.float64, ...] | None:
    """point(ufunc, *args) -> tuple | None"""
