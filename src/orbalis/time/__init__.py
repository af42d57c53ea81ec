"""Epochs for orbalis: ``Time`` holds one epoch or many in UTC, TAI, TT, TDB or UT1."""

from orbalis.time.time import Time

__all__ = ["Time"]
