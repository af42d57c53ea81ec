"""Reference frames for orbalis: ``Frame`` and the frames ``GCRF``, ``ITRF`` and ``TEME``."""

from orbalis.frames.frames import (
    GCRF,
    ITRF,
    OMEGA_EARTH,
    TEME,
    Frame,
    clear_earth_orientation,
    earth_orientation,
    set_earth_orientation,
)

__all__ = [
    "Frame",
    "GCRF",
    "ITRF",
    "TEME",
    "OMEGA_EARTH",
    "set_earth_orientation",
    "clear_earth_orientation",
    "earth_orientation",
]
