"""The orbalis data model: structured dtypes of the geodetic records."""

from orbalis.datamodel.structured import AER_dtype, ENU_dtype, LLA_dtype, SurfCoord_dtype

__all__ = ["SurfCoord_dtype", "LLA_dtype", "ENU_dtype", "AER_dtype"]
