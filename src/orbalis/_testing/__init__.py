"""Helpers for the test suite and the benchmarks; not part of the public interface.

``_kernels`` (native) runs the Ellipsoid kernels in plain loops and provides an instrumented
native subclass; ``ArrayLike`` wraps an array so that every element is read through the
item protocol; ``same_bits`` is the one bit-for-bit comparison of the tests; ``outcome`` and
``print_outcomes`` let a test run in a subprocess report one labelled line per case, and
``labelled_lines`` reads them back.
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


def same_bits(a, b):
    """True when `a` and `b` hold the same values bit for bit.

    Both go through ``numpy.asarray``; a `b` that is not an ndarray takes `a`'s dtype (so a list
    of Python floats compares with a float64 result). The dtypes and shapes must be equal, and
    structured arrays are compared field by field. Floating-point elements compare by their bits,
    so ``0.0`` and ``-0.0`` differ; every NaN equals every NaN, whatever its sign and payload,
    since no result promises a particular NaN.
    """
    a = np.asarray(a)
    b = np.asarray(b) if isinstance(b, np.ndarray) else np.asarray(b, dtype=a.dtype)
    if a.dtype != b.dtype or a.shape != b.shape:
        return False
    if a.dtype.names:
        return all(same_bits(a[name], b[name]) for name in a.dtype.names)
    if a.dtype.kind in "fc":
        nan_a, nan_b = np.isnan(a), np.isnan(b)
        if not np.array_equal(nan_a, nan_b):
            return False
        a, b = a[~nan_a], b[~nan_b]
    return np.ascontiguousarray(a).tobytes() == np.ascontiguousarray(b).tobytes()


def outcome(call):
    """What ``call()`` gives, in one word: ``ok``, or the name of the exception it raised."""
    try:
        call()
    except Exception as exc:  # the outcome is the report
        return type(exc).__name__
    return "ok"


def print_outcomes(cases):
    """Prints ``label: outcome`` for each ``(label, call)``, one line per case, as it goes (a
    crash then leaves the cases before it on record)."""
    for label, call in cases:
        print(f"{label}: {outcome(call)}", flush=True)


def labelled_lines(text):
    """``{label: rest}`` from lines of the form ``label: rest`` (as ``print_outcomes`` writes)."""
    return dict(line.split(": ", 1) for line in text.splitlines() if ": " in line)
