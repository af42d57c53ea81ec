"""Helpers for the test suite and the benchmarks; not part of the public interface.

``_kernels`` (native) runs the Ellipsoid kernels in plain loops and provides an instrumented
native subclass; ``ArrayLike`` wraps an array so that every element is read through the
item protocol.
"""

import numpy as np


class ArrayLike:
    """Exposes only ``ndim``, ``shape`` and item access, so every element goes through
    ``__getitem__`` (rows come back as ``ArrayLike`` too)."""

    def __init__(self, array):
        self._array = np.asarray(array)
        self.ndim, self.shape = self._array.ndim, self._array.shape

    def __getitem__(self, index):
        item = self._array[index]
        return ArrayLike(item) if isinstance(item, np.ndarray) else item
