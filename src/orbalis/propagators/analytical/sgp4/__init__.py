"""TLE records and catalogues."""

from .catalogue import TLEFormatWarning, load_tles

__all__ = ["TLEFormatWarning", "load_tles"]
