"""Type stub of the TLE catalogue reader."""

import os
from collections.abc import Iterable

from orbalis.propagators.analytical.sgp4.tle import TLE

__all__ = ["TLEFormatWarning", "load_tles"]

class TLEFormatWarning(UserWarning):
    """A malformed set in a TLE catalogue, skipped by ``load_tles``; the message names the
    line where the set starts and what is wrong with it."""

def load_tles(
    source: str | os.PathLike[str] | Iterable[str], *, strict: bool = False
) -> list[tuple[str | None, TLE]]:
    """load_tles(source, *, strict=False) -> list[tuple[str | None, TLE]]"""
