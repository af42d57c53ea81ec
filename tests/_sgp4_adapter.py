"""A stand-in for orbalis's SGP4 propagator over the ``sgp4`` package, for the pass tests.

It offers the propagator's interface (``propagate``, ``propagate_minutes``, ``epoch``,
``mean_motion``, ``eccentricity``, ``is_deep_space``, ``satnum``) with the package's
``Satrec`` (WGS-72, improved mode) underneath.
"""

from __future__ import annotations

import numpy as np
from sgp4.api import WGS72, Satrec

from orbalis.satellite.satellite import StateVector
from orbalis.time.time import Time


class SatrecPropagator:
    """SatrecPropagator(tle) over ``Satrec.twoline2rv(tle.line1, tle.line2, WGS72)``."""

    def __init__(self, tle):
        self._sat = Satrec.twoline2rv(tle.line1, tle.line2, WGS72)
        s = self._sat
        self.epoch = Time._from_parts(np.asarray(s.jdsatepoch), np.asarray(s.jdsatepochF), "utc")
        self.mean_motion = s.no_kozai
        self.eccentricity = s.ecco
        self.is_deep_space = s.method == "d"
        self.satnum = s.satnum
        self.calls = 0  # propagate calls, for the tests of the search's economy

    def propagate(self, time, *, errors=False):
        self.calls += 1
        t = Time(time).utc
        jd1, jd2 = np.ravel(t.jd1), np.ravel(t.jd2)
        codes, r, v = self._sat.sgp4_array(jd1, jd2)
        r, v = r * 1e3, v * 1e3
        bad = codes != 0
        r[bad] = np.nan
        v[bad] = np.nan
        state = StateVector(t, r, v, "TEME")
        return (state, codes.astype(np.uint8)) if errors else state

    def propagate_minutes(self, tsince):
        tsince = np.asarray(tsince, dtype=np.float64)
        flat = tsince.ravel()
        s = self._sat
        codes, r, v = s.sgp4_array(np.full(flat.shape, s.jdsatepoch),
                                   s.jdsatepochF + flat / 1440.0)
        shape = tsince.shape + (3,)
        return r.reshape(shape), v.reshape(shape), codes.astype(np.uint8).reshape(tsince.shape)
