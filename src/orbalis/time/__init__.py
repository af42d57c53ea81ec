"""Epochs for orbalis: ``Time`` holds one epoch or an array of epochs in UTC, TAI or TT."""

from orbalis.time.time import Time

__all__ = ["Time"]
