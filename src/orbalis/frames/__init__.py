"""Reference frames for orbalis: ``Frame`` and the frames ``GCRF``, ``ITRF`` and ``TEME``, and
the choice of Earth orientation data (IERS tables; ``orbalis.frames.eop``)."""

from orbalis.frames.frames import (
    GCRF,
    ITRF,
    OMEGA_EARTH,
    TEME,
    EarthOrientationWarning,
    Frame,
    clear_earth_orientation,
    earth_orientation,
    load_earth_orientation,
    set_earth_orientation,
)

__all__ = [
    "Frame",
    "GCRF",
    "ITRF",
    "TEME",
    "OMEGA_EARTH",
    "EarthOrientationWarning",
    "set_earth_orientation",
    "clear_earth_orientation",
    "load_earth_orientation",
    "earth_orientation",
]
