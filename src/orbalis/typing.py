"""Type aliases shared by the orbalis modules."""

from __future__ import annotations

import datetime
from typing import TYPE_CHECKING, Union

import numpy as np

if TYPE_CHECKING:
    from orbalis.time.time import Time

#: Anything ``orbalis.time.time.Time`` accepts as an epoch or as an array of epochs:
#: another ``Time``, an ISO 8601 or four-digit year string, a ``datetime``, a NumPy
#: ``datetime64`` value or array, or (with ``format="jd"`` or ``"mjd"``) numbers.
DatetimeLike = Union[
    "Time", str, datetime.datetime, datetime.date, np.datetime64, np.ndarray, float, int
]
