"""Observation of satellites from the ground: ``find_passes`` lists the passes of a
satellite above a station's elevation threshold, each a ``Pass`` (rise, culmination, set,
highest elevation, azimuths at rise and set)."""

from orbalis.observation.passes import Pass, find_passes

__all__ = ["Pass", "find_passes"]
