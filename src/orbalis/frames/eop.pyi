"""Type stub of the Earth orientation tables: ``EarthOrientationTable`` and the warning
issued for epochs outside a table."""

import numpy as np
from numpy.typing import ArrayLike, NDArray

__all__ = ["EarthOrientationWarning", "EarthOrientationTable"]

ARCSEC: float

class EarthOrientationWarning(UserWarning):
    """Issued once per Earth orientation table when an epoch lies outside it (the nearest
    row's values are then held), and when the bundled table cannot be found."""

class EarthOrientationTable:
    """EarthOrientationTable(mjd, dut1, xp, yp, lod, source) -> an immutable table."""

    __slots__ = ("mjd", "ut1_tai", "xp", "yp", "lod", "dut1_ends", "source", "_warned")
    mjd: NDArray[np.float64]
    ut1_tai: NDArray[np.float64]
    xp: NDArray[np.float64]
    yp: NDArray[np.float64]
    lod: NDArray[np.float64]
    dut1_ends: tuple[float, float]
    source: str
    def __init__(
        self,
        mjd: ArrayLike,
        dut1: ArrayLike,
        xp: ArrayLike,
        yp: ArrayLike,
        lod: ArrayLike,
        source: str,
    ) -> None: ...
    @property
    def span(self) -> tuple[float, float]:
        """(first, last) UTC modified Julian date of the table."""
    def values(
        self, u1: NDArray[np.float64], u2: NDArray[np.float64], *, stacklevel: int = 3
    ) -> tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]]:
        """Interpolated (ut1_tai, xp, yp, lod) at UTC Julian dates u1 + u2 (1-d arrays)."""
