"""State vectors: what holding N positions and velocities costs, against the usual ways.

Rows, each in microseconds per operation (best of five rounds), measured in one run:

- construction of a ``StateVector`` (which also applies ``Time`` to its time), against the same
  epochs passed through ``Time`` alone, a pure-Python holder doing the same checks with
  ``numpy.asarray``, and astropy's ``CartesianRepresentation`` with a
  ``CartesianDifferential`` built without copying; once more over arrays that no other state
  vector views, which also pays for the weak references that stop NumPy from resizing them;
- reading ``r`` (a new array over the same memory) against ``numpy.asarray`` of a memoryview;
- equality of two equal state vectors;
- ``to_frame`` to the own frame (no transformation) and to ITRF, against the frames module's
  ``transform_to`` called directly, which shows the state vector's share of a conversion.

Run: python benchmarks/bench_state_vector.py [N]
"""

from __future__ import annotations

import sys

import numpy as np
from _harness import ns_per_item, print_table

from orbalis.frames.frames import GCRF, ITRF, Frame
from orbalis.satellite.satellite import StateVector
from orbalis.time.time import Time


def us_per_call(func):
    return ns_per_item(func, 1) / 1e3


class PythonStateVector:
    """The same holder in pure Python, for scale: no copies, the same shape checks."""

    __slots__ = ("frame", "time", "_r", "_v")

    def __init__(self, time, r, v, frame="GCRF"):
        self.frame = frame if isinstance(frame, Frame) else Frame[frame]
        self.time = Time(time)
        self._r = np.asarray(r, dtype=np.float64)
        self._v = np.asarray(v, dtype=np.float64)
        assert self._r.shape[0] == self._v.shape[0] == self.time.size
        assert self._r.shape[1] == self._v.shape[1] == 3


def table(title, rows, reference):
    print_table(title, rows, reference, unit="us/call", label_width=52)


def main(n):
    rng = np.random.default_rng(1)
    r = rng.normal(size=(n, 3)) * 7e6
    v = rng.normal(size=(n, 3)) * 7e3
    t = Time(np.datetime64("2024-03-01") + np.arange(n) * np.timedelta64(10, "s"))
    sv = StateVector(t, r, v)
    twin = StateVector(t, r.copy(), v.copy())
    mv = memoryview(r)
    r_alone, v_alone = r.copy(), v.copy()

    rows = [
        ("StateVector(time, r, v)", us_per_call(lambda: StateVector(t, r, v))),
        ("StateVector(time, r, v, GCRF)", us_per_call(lambda: StateVector(t, r, v, GCRF))),
        (
            "StateVector(...) on arrays no state vector views",
            us_per_call(lambda: StateVector(t, r_alone, v_alone)),
        ),
        ("Time(time) alone", us_per_call(lambda: Time(t))),
        ("pure-Python holder", us_per_call(lambda: PythonStateVector(t, r, v))),
    ]
    try:
        import astropy.units as u
        from astropy.coordinates import CartesianDifferential, CartesianRepresentation

        rq, vq = r.T * u.m, v.T * (u.m / u.s)

        def astropy_rep():
            CartesianRepresentation(rq, copy=False).with_differentials(
                CartesianDifferential(vq, copy=False)
            )

        rows.append(("astropy CartesianRepresentation + differential", us_per_call(astropy_rep)))
    except ImportError:
        rows.append(("astropy CartesianRepresentation + differential", None))
    table(f"Construction, N = {n}", rows, "StateVector(time, r, v)")

    table(
        "Reading the position array",
        [
            ("sv.r", us_per_call(lambda: sv.r)),
            ("numpy.asarray(memoryview(r))", us_per_call(lambda: np.asarray(mv))),
        ],
        "sv.r",
    )

    rows = [
        ("sv == twin", us_per_call(lambda: sv == twin)),
        ("sv.to_frame(sv.frame)", us_per_call(lambda: sv.to_frame(sv.frame))),
        ("sv.to_frame(ITRF)", us_per_call(lambda: sv.to_frame(ITRF))),
        ("sv.ITRF", us_per_call(lambda: sv.ITRF)),
        (
            "GCRF.transform_to(ITRF, t, r, v) directly",
            us_per_call(lambda: GCRF.transform_to(ITRF, t, r, v)),
        ),
    ]
    table(f"Comparison and conversion, N = {n}", rows, "sv.to_frame(ITRF)")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 1000)
