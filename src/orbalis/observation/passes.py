"""Passes of a satellite over a ground station: when it rises above an elevation threshold,
when it culminates and when it sets again.

``find_passes`` samples the elevation on a coarse grid in one vectorised propagation, makes
sure by a bound on the curvature of the motion that no pass (and no dip below the threshold)
can hide between two samples, then refines every crossing of the threshold by bracketing
root finding and every culmination by a bracketed maximum search, both to 0.01 s.
Positions come from the satellite's propagator in TEME, go to ITRF through
``orbalis.frames.frames`` (with the Earth orientation in force there) and are observed with
``Ellipsoid.aer_coords``.

Times are handled as TAI seconds since ``start`` (uniform SI seconds, so a leap second inside
the window costs nothing) and handed to the propagator and the frames as UTC ``Time``
objects, which both of them use without a further conversion.
"""

from __future__ import annotations

import math
import numbers
import warnings
from typing import NamedTuple

import erfa
import numpy as np

from orbalis.frames.frames import ITRF, OMEGA_EARTH, TEME
from orbalis.geodesy import WGS84
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.time.time import Time

__all__ = ["Pass", "find_passes"]

#: Accuracy of every refined time (s): crossings and culminations are bracketed this closely.
TOLERANCE_S = 0.01
# Half the spacing of the probe pair placed around each new estimate: when the estimate is
# good, the pair alone closes the bracket to 2 * _PROBE_S < TOLERANCE_S.
_PROBE_S = 0.004
# Grid samples per revolution.  Coverage does not depend on it (the curvature test below
# guarantees that); it only balances the cost of the grid against the number of intervals
# that need a closer look.
_STEPS_PER_REV = 48
# Longest grid step (s), for very slow orbits.
_MAX_STEP_S = 1800.0
# Guard on the number of rounds of any refinement loop; every loop ends far sooner.
_MAX_ROUNDS = 64

# Gravitational parameter of the Earth (m^3/s^2, WGS-84/EGM96).  It only enters the
# curvature bound and the step, which carry margins far larger than the differences
# between the published values.
_MU = 3.986004418e14
_DAY_S = 86400.0
_TWO_PI = 2.0 * math.pi
_SECONDS_PER_MINUTE = 60.0

# Margins of the curvature bound (see _CurvatureBound): radii taken 2 % lower and higher
# and speeds 2 % higher than the elements and samples say; the central attraction raised
# 1 % for the zonal harmonics (J2 adds at most ~0.5 % in low orbit); the whole bound
# raised 10 %; a velocity that differs from the rate of the propagated position by up to
# 1e-3 of the speed (SGP4's differ by ~1e-5 in near orbits and ~2e-4 in Molniya orbits).
_RADIUS_MARGIN = 0.02
_SPEED_MARGIN = 0.02
_ZONAL_MARGIN = 1.01
_CURVATURE_MARGIN = 1.1
_VELOCITY_CONSISTENCY = 1e-3
# Smallest station-satellite distance the bound assumes (m), for objects re-entering.
_MIN_RANGE_M = 1e4


class Pass(NamedTuple):
    """One pass of a satellite above the elevation threshold of a station.

    rise, culmination, set:
        ``Time`` epochs (UTC) at which the elevation crosses the threshold upwards, reaches
        its highest and crosses it downwards; None where the pass is already under way at
        ``start`` (rise), still under way at ``stop`` or cut short by a failure of the
        propagation such as decay (set), or where its highest point lies outside the
        searched window (culmination).
    max_elevation:
        the highest elevation of the pass within the window, radians (at the culmination,
        or at the edge of the window when culmination is None).
    rise_azimuth, set_azimuth:
        azimuth at rise and at set, radians from north towards east in [0, 2 pi); None when
        rise or set is None.
    """

    rise: Time | None
    culmination: Time | None
    set: Time | None
    max_elevation: float
    rise_azimuth: float | None
    set_azimuth: float | None


# -- arguments ------------------------------------------------------------------------------


def _real(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"find_passes: {name} must be a real number, got {value!r}")
    x = float(value)
    if not math.isfinite(x):
        raise ValueError(f"find_passes: {name} must be finite, got {x!r}")
    return x


def _epoch(name, value):
    """One epoch, in TAI, as a Time of shape ()."""
    try:
        t = Time(Time(value), scale="tai")
    except (TypeError, ValueError) as exc:
        raise type(exc)(f"find_passes: cannot read {name} {value!r} as a time: {exc}") from None
    if t.size != 1:
        raise ValueError(f"find_passes: {name} must be a single epoch, got {t.size} epochs")
    return _time(t.jd1.reshape(()), t.jd2.reshape(()), "tai")


def _propagator(satellite):
    """The object whose ``propagate`` gives the TEME states: a TLE gets orbalis's SGP4."""
    if isinstance(satellite, TLE):
        from orbalis.propagators.analytical import sgp4

        SGP4 = getattr(sgp4, "SGP4", None)
        if SGP4 is None:
            raise NotImplementedError(
                "find_passes: this build has no SGP4 propagator to propagate a TLE; pass an "
                "object with a propagate(time, errors=True) method"
            )
        return SGP4(satellite)
    if callable(getattr(satellite, "propagate", None)):
        return satellite
    raise TypeError(
        "find_passes: satellite must be an SGP4 propagator, a TLE or an object with a "
        f"propagate(time, *, errors=False) method, got {type(satellite).__name__}"
    )


class _Station:
    """The observer: geodetic position, its Cartesian position and vertical, the threshold."""

    __slots__ = ("lat", "lon", "alt", "ellipsoid", "r", "up", "min_elevation", "sin_min")

    def __init__(self, lat, lon, alt, min_elevation, ellipsoid):
        self.lat = _real("lat", lat)
        self.lon = _real("lon", lon)
        self.alt = _real("alt", alt)
        if not -math.pi / 2 <= self.lat <= math.pi / 2:
            raise ValueError(
                f"find_passes: lat must lie in [-pi/2, pi/2] radians, got {self.lat!r}"
                + (" (degrees? convert with math.radians)" if abs(self.lat) <= 90 else "")
            )
        self.min_elevation = _real("min_elevation", min_elevation)
        if not -math.pi / 2 <= self.min_elevation <= math.pi / 2:
            raise ValueError(
                "find_passes: min_elevation must lie in [-pi/2, pi/2] radians, got "
                f"{self.min_elevation!r}"
            )
        if ellipsoid is None:
            ellipsoid = WGS84
        elif not isinstance(ellipsoid, Ellipsoid):
            raise TypeError(
                f"find_passes: ellipsoid must be an Ellipsoid, got {type(ellipsoid).__name__}"
            )
        self.ellipsoid = ellipsoid
        self.r = np.asarray(ellipsoid.pos_from_lla(self.lat, self.lon, self.alt))
        self.up = np.asarray(ellipsoid.enu(self.lat, self.lon)["u_up"][0])
        self.sin_min = math.sin(self.min_elevation)


# -- time -----------------------------------------------------------------------------------


def _tai_to_utc(t1, t2):
    """erfa.taiutc without its "dubious year" warning: past the end of the leap-second
    table (or before 1960) the last known (or no) offset is the sensible reading, as the
    time and frames modules take it."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return erfa.taiutc(t1, t2)


def _time(jd1, jd2, scale):
    """A Time of a two-part Julian date that is already split (whole days, a fraction)."""
    return Time._from_parts(jd1, jd2, scale)


class _Clock:
    """TAI seconds since start to UTC ``Time`` objects.

    Without a leap second in the window (and after 1972, when TAI - UTC became a whole
    number of seconds), UTC is TAI minus a constant and no per-epoch conversion is needed.
    """

    __slots__ = ("_jd1", "_jd2", "_offset_days")

    def __init__(self, start_tai, span_s):
        self._jd1 = float(start_tai.jd1)
        self._jd2 = float(start_tai.jd2)
        offsets = []
        for s in (0.0, span_s):
            t1, t2 = self._tai(np.array([s]))
            u1, u2 = _tai_to_utc(t1, t2)
            offsets.append(((t1 - u1) + (t2 - u2))[0] * _DAY_S)
        whole = round(offsets[0])
        constant = abs(offsets[0] - whole) < 1e-6 and abs(offsets[1] - whole) < 1e-6
        self._offset_days = whole / _DAY_S if constant else None

    def _tai(self, seconds):
        jd2 = self._jd2 + seconds / _DAY_S
        day = np.round(jd2)
        return self._jd1 + day, jd2 - day

    def utc(self, seconds):
        t1, t2 = self._tai(np.asarray(seconds, dtype=np.float64))
        if self._offset_days is not None:
            u1, u2 = t1, t2 - self._offset_days
        else:
            u1, u2 = _tai_to_utc(t1, t2)
        return _time(u1, u2, "utc")


# -- sampling -------------------------------------------------------------------------------


class _Samples:
    """Elevation and friends at a set of epochs (seconds since start), one array each.

    ``g`` = (line of sight) . up - sin(min_elevation) * range is positive exactly where the
    elevation is above the threshold and, unlike the elevation, smooth everywhere (also
    through the zenith); ``gdot`` is its rate.  ``up`` is the test elevation > threshold on
    valid epochs; invalid epochs (failed propagation) are never up.  ``height`` is
    -|los/range - up|^2 = -(2 - 2 cos(zenith angle)): it peaks where the elevation does,
    but keeps its resolution near the zenith, where asin, and so the elevation, loses it,
    and stays smooth through it (minus the zenith angle itself has a kink there); ``hdot``
    is its rate.
    """

    __slots__ = (
        "t",
        "valid",
        "up",
        "el",
        "az",
        "rng",
        "height",
        "g",
        "gdot",
        "hdot",
        "rmag",
        "vmag",
    )

    def take(self, index):
        out = _Samples.__new__(_Samples)
        for name in _Samples.__slots__:
            value = getattr(self, name, None)
            if value is not None:
                setattr(out, name, value[index])
        return out

    @staticmethod
    def merge(a, b):
        out = _Samples.__new__(_Samples)
        t = np.concatenate([a.t, b.t])
        order = np.argsort(t, kind="stable")
        for name in _Samples.__slots__:
            setattr(out, name, np.concatenate([getattr(a, name), getattr(b, name)])[order])
        return out


class _Sampler:
    """Propagates, rotates to ITRF and observes in one vectorised call per batch of epochs."""

    __slots__ = ("_satellite", "_station", "_clock")

    def __init__(self, satellite, station, clock):
        self._satellite = satellite
        self._station = station
        self._clock = clock

    def __call__(self, seconds, full=True):
        """Samples at ``seconds`` since start; without ``full`` the rates and magnitudes
        that only the grid needs (hdot, rmag, vmag) are left out."""
        seconds = np.asarray(seconds, dtype=np.float64)
        time = self._clock.utc(seconds)
        out = _Samples.__new__(_Samples)
        out.t = seconds
        if seconds.size:
            state, codes = self._satellite.propagate(time, errors=True)
            r = np.asarray(state.r, dtype=np.float64)
            v = np.asarray(state.v, dtype=np.float64)
            ok = np.isfinite(r).all(axis=1) & np.isfinite(v).all(axis=1)
            valid = (np.asarray(codes) == 0) & ok
        else:
            r = v = np.empty((0, 3))
            valid = np.zeros(0, dtype=bool)
        out.valid = valid
        if valid.all():
            self._observe(out, time, r, v, full)
            return out
        # failed epochs: observe the others and leave NaN (and not up) where it failed
        some = _Samples.__new__(_Samples)
        index = np.flatnonzero(valid)
        self._observe(some, time[index], r[index], v[index], full)
        for name in _Samples.__slots__[3:] if full else _Samples.__slots__[3:-3]:
            full = np.full(seconds.size, np.nan)
            full[index] = getattr(some, name)
            setattr(out, name, full)
        out.up = np.zeros(seconds.size, dtype=bool)
        out.up[index] = some.up
        return out

    def _observe(self, out, time, r, v, full):
        st = self._station
        r_itrf, v_itrf = TEME.transform_to(ITRF, time, r, v)
        aer = st.ellipsoid.aer_coords(r_itrf, st.lat, st.lon, st.alt)
        el, rng = aer["elevation"], aer["range"]
        los = r_itrf - st.r
        ux, uy, uz = st.up
        up_dist = los @ st.up
        up_rate = v_itrf @ st.up
        lx, ly, lz = los[:, 0], los[:, 1], los[:, 2]
        range_rate = (lx * v_itrf[:, 0] + ly * v_itrf[:, 1] + lz * v_itrf[:, 2]) / rng
        dx, dy, dz = lx / rng - ux, ly / rng - uy, lz / rng - uz
        out.up = el > st.min_elevation
        out.el = el
        out.az = aer["azimuth"]
        out.rng = rng
        out.height = -(dx * dx + dy * dy + dz * dz)
        out.g = up_dist - st.sin_min * rng
        out.gdot = up_rate - st.sin_min * range_rate
        if full:
            # d/dt of 2 cos(zenith angle) - 2, with cos = up_dist / range
            out.hdot = 2.0 * (up_rate - (up_dist / rng) * range_rate) / rng
            out.rmag = np.sqrt(np.einsum("ij,ij->i", r, r))
            out.vmag = np.sqrt(np.einsum("ij,ij->i", v, v))


# -- the grid and its coverage --------------------------------------------------------------


def _elements(satellite, clock):
    """Semi-major axis (m) and eccentricity: the propagator's mean elements when it has
    them, otherwise osculating elements of the state at start."""
    n = getattr(satellite, "mean_motion", None)
    e = getattr(satellite, "eccentricity", None)
    if n is not None and e is not None and float(n) > 0.0 and 0.0 <= float(e) < 1.0:
        n_rad_s = float(n) / _SECONDS_PER_MINUTE
        return (_MU / (n_rad_s * n_rad_s)) ** (1.0 / 3.0), float(e)
    state, codes = satellite.propagate(clock.utc(np.zeros(1)), errors=True)
    r = np.asarray(state.r, dtype=np.float64)[0]
    v = np.asarray(state.v, dtype=np.float64)[0]
    rmag, v2 = float(np.linalg.norm(r)), float(v @ v)
    inv_a = 2.0 / rmag - v2 / _MU
    if not (np.all(np.isfinite(r)) and np.all(np.isfinite(v)) and inv_a > 0.0):
        return None
    ecc = np.cross(v, np.cross(r, v)) / _MU - r / rmag
    return 1.0 / inv_a, min(float(np.linalg.norm(ecc)), 0.99)


def _grid_step(elements, span):
    if elements is None:
        return min(60.0, _MAX_STEP_S)
    a = elements[0]
    period = _TWO_PI * math.sqrt(a * a * a / _MU)
    return min(period / _STEPS_PER_REV, _MAX_STEP_S)


class _CurvatureBound:
    """An upper bound K on |g''| between two samples, so that intervals can be cleared.

    With d the line of sight (ITRF), u the station's vertical, s = sin(min_elevation) and
    rho = |d|:  g = u.d - s rho, and
        g'' = u.d'' - s (dhat.d'' + (|d'|^2 - (dhat.d')^2) / rho),
    so |g''| <= (1 + |s|) |d''| + |s| |d'|^2 / rho.  In ITRF the satellite's acceleration is
    the attraction of the Earth plus the Coriolis and centrifugal terms:
        |d''| <= mu / r_min^2 (raised for the zonal harmonics) + 2 omega V + omega^2 r_max,
    where V >= |d'| bounds the Earth-fixed speed by the inertial speed plus omega r_max.
    r_min, r_max and the inertial speed come from the orbit's perigee and apogee and from
    the samples themselves (which see any decay), with margins.  rho on an interval is at
    least the smaller end value minus V times half the interval (and never less than
    r_min - |r_station|, the triangle inequality).

    With |g''| <= K on an interval of length h:
    - g lies above its chord minus K t (h - t) / 2, so two samples of the same sign whose
      chord bound keeps that sign exclude any crossing between them (no pass, or no dip
      below the threshold, can hide there);
    - g' is K-Lipschitz, so g' keeps one sign on the whole interval when
      (g'_0 + g'_1 -+ K h) / 2 does; then there is exactly one crossing if the samples
      differ in sign and none if they agree.
    Intervals that pass neither test are subdivided until they do or are shorter than the
    tolerance, so every pass longer than the tolerance is found.  So are intervals between a
    valid and a failed epoch.
    """

    __slots__ = ("accel", "speed", "min_range", "s", "slope_error")

    def __init__(self, elements, samples, station):
        ok = samples.valid
        r_lo, r_hi, v_hi = samples.rmag[ok].min(), samples.rmag[ok].max(), samples.vmag[ok].max()
        if elements is not None:
            a, e = elements
            perigee, apogee = a * (1.0 - e), a * (1.0 + e)
            r_lo, r_hi = min(r_lo, perigee), max(r_hi, apogee)
            v_hi = max(v_hi, math.sqrt(_MU * (1.0 + e) / perigee))
        r_min = r_lo * (1.0 - _RADIUS_MARGIN)
        r_max = r_hi * (1.0 + _RADIUS_MARGIN)
        self.speed = v_hi * (1.0 + _SPEED_MARGIN) + OMEGA_EARTH * r_max
        self.accel = (
            _ZONAL_MARGIN * _MU / (r_min * r_min)
            + 2.0 * OMEGA_EARTH * self.speed
            + OMEGA_EARTH * OMEGA_EARTH * r_max
        )
        self.min_range = max(r_min - float(np.linalg.norm(station.r)), _MIN_RANGE_M)
        self.s = abs(station.sin_min)
        self.slope_error = (1.0 + self.s) * _VELOCITY_CONSISTENCY * self.speed

    def curvature(self, rho0, rho1, h):
        rho = np.maximum(np.minimum(rho0, rho1) - self.speed * h / 2.0, self.min_range)
        v = self.speed
        return _CURVATURE_MARGIN * ((1.0 + self.s) * self.accel + self.s * v * v / rho)

    def unresolved(self, a, b):
        """Which intervals between samples a[i] and b[i] need a closer look."""
        h = b.t - a.t
        both = a.valid & b.valid & (h > TOLERANCE_S)
        K = self.curvature(a.rng, b.rng, h)
        p0, p1, eps = a.gdot, b.gdot, self.slope_error
        with np.errstate(invalid="ignore"):
            consistent = np.abs(p1 - p0) <= K * h + 2.0 * eps
            monotone = consistent & (
                ((p0 + p1 - K * h) / 2.0 - eps > 0.0) | ((p0 + p1 + K * h) / 2.0 + eps < 0.0)
            )
            # lowest point of |g|'s chord bound |g0| + (|g1| - |g0|) t/h - K t (h - t) / 2
            g0, g1 = np.abs(a.g), np.abs(b.g)
            t_low = np.clip(h / 2.0 - (g1 - g0) / (K * h), 0.0, h)
            low = g0 + (g1 - g0) * t_low / h - K * t_low * (h - t_low) / 2.0
            clear = (a.up == b.up) & (low > 0.0)
        # where the propagation starts or stops failing, close in on the change, so that a
        # pass cut short by it is measured up to it
        failure_edge = (a.valid != b.valid) & (h > TOLERANCE_S)
        return (both & ~monotone & ~clear) | failure_edge


def _cover(sampler, samples, bound):
    """Subdivide (into quarters) every interval the bound cannot clear, until none is left."""
    for _ in range(_MAX_ROUNDS):
        if samples.t.size < 2:
            break
        lo, hi = samples.take(slice(None, -1)), samples.take(slice(1, None))
        flagged = np.flatnonzero(bound.unresolved(lo, hi))
        if flagged.size == 0:
            break
        t0 = samples.t[flagged]
        h = samples.t[flagged + 1] - t0
        new = (t0[:, None] + h[:, None] * np.array([0.25, 0.5, 0.75])).ravel()
        samples = _Samples.merge(samples, sampler(new))
    return samples


# -- crossings ------------------------------------------------------------------------------


def _hermite_root(ga, gb, pa, pb, h):
    """Root in [0, h] of the cubic Hermite interpolant of g (values ga, gb, slopes pa, pb),
    by Newton steps from the chord's root; falls back to the chord's root."""
    with np.errstate(invalid="ignore", divide="ignore"):
        u0 = np.clip(ga / (ga - gb), 0.0, 1.0)
        u0 = np.where(np.isfinite(u0), u0, 0.5)
        ma, mb = pa * h, pb * h
        u = u0
        for _ in range(3):
            u2, u3 = u * u, u * u * u
            val = (
                (2 * u3 - 3 * u2 + 1) * ga
                + (u3 - 2 * u2 + u) * ma
                + (-2 * u3 + 3 * u2) * gb
                + (u3 - u2) * mb
            )
            der = (
                (6 * u2 - 6 * u) * ga
                + (3 * u2 - 4 * u + 1) * ma
                + (-6 * u2 + 6 * u) * gb
                + (3 * u2 - 2 * u) * mb
            )
            u = np.clip(u - val / der, 0.0, 1.0)
        u = np.where(np.isfinite(u), u, u0)
    return u * h


# -- culminations ---------------------------------------------------------------------------


# Rounding noise of the direction to the satellite (rad), as measured on geostationary
# orbits propagated with SGP4 (~1.6e-14 rad scatter about a smooth curve); far below it in
# low orbits.  The height 2 cos z - 2 moves by 2 sin z times that.
_DIRECTION_NOISE = 2e-14
# Points of the least-squares parabola that finishes the search on a flat top, and the
# half-width of the stencil in units of the noise-limited spacing (the parabola falls by
# 900 times the noise at its ends).
_FIT_POINTS = 33
_FIT_HALF_WIDTH = 30.0


class _Peak:
    """Bracketed maximum search on a triple a < b < c of (t, height, elevation) points with
    height(b) >= height(a), height(c).

    Each round probes an estimate of the top and two points either side of it, then keeps
    the best point and its two neighbours; a round that does not halve the bracket is
    followed by a golden-section step.  The estimate is the top of the Hermite interpolant
    of the samples (first round), then the vertex of the parabola through the last three
    probes (a Newton step), or the vertex of the parabola through the bracket.  The probes
    stand _PROBE_S apart, or, on a top so flat that height differences over _PROBE_S would
    drown in rounding noise (the daily peak of a geostationary satellite), as far apart as
    it takes for the parabola to fall by the noise; such a search ends with a least-squares
    parabola through a stencil of points around the best one, whose vertex is the
    culmination.
    """

    __slots__ = (
        "pts",
        "done",
        "window",
        "_slopes",
        "_rounds",
        "_stalled",
        "_phase",
        "_stencil",
        "_vertex",
        "_d",
        "_last",
    )

    def __init__(self, a, b, c, window, slopes=None):
        self.pts = [a, b, c]
        self.window = window  # (first, last) second of the search window
        self._slopes = slopes  # height rates at a, b, c, when known
        self._last = None  # the last round's three close probes
        self._rounds = 0
        self._stalled = False
        self._phase = "search"
        self._stencil = self._vertex = None
        self._check_width()

    @property
    def best(self):
        return self.pts[1]

    def _curvature(self):
        (ta, fa, _), (tb, fb, _), (tc, fc, _) = self.pts
        if not (tb > ta and tc > tb):
            return math.nan
        return 2.0 * ((fc - fb) / (tc - tb) - (fb - fa) / (tb - ta)) / (tc - ta)

    def _spacing(self):
        curvature = self._curvature()
        if not curvature < 0.0:
            return _PROBE_S
        sin_z = math.sqrt(max(-self.pts[1][1] * (1.0 + self.pts[1][1] / 4.0), 0.0))
        noise = 2.0 * sin_z * _DIRECTION_NOISE + 1e-17
        return max(_PROBE_S, math.sqrt(2.0 * noise / -curvature))

    def _check_width(self):
        spacing = self._d = self._spacing()
        self.done = False
        if self.pts[2][0] - self.pts[0][0] <= max(TOLERANCE_S, 2.5 * spacing):
            if spacing > _PROBE_S:
                self._phase = "fit"
                self._stencil = _FIT_HALF_WIDTH * spacing
            else:
                self.done = True
        if self._rounds >= _MAX_ROUNDS:
            self.done = True

    def probes(self):
        if self._phase == "fit":
            tb = self.pts[1][0]
            return (tb + np.linspace(-self._stencil, self._stencil, _FIT_POINTS)).tolist()
        if self._phase == "vertex":
            return [self._vertex]
        (ta, _, _), (tb, _, _), (tc, _, _) = self.pts
        if self._stalled:
            # golden-section point in the larger side
            x = tb + 0.381966 * (tc - tb) if tc - tb > tb - ta else tb - 0.381966 * (tb - ta)
            return [x]
        x = None
        if self._d == _PROBE_S:
            # where rounding does not blur the top: first the top of the Hermite interpolant
            # of the samples' heights and rates, then Newton's steps (the vertex of the last
            # three close probes)
            if self._rounds == 0 and self._slopes is not None:
                x = _hermite_peak(self.pts, self._slopes)
            elif self._last is not None:
                x = _vertex(*self._last)
            if x is not None and not ta < x < tc:
                x = None
        if x is None:
            x = _vertex(*self.pts)
        if x is None:
            x = tb
        d = min(self._d, (tc - ta) / 4.0)
        x = min(max(x, ta + d), tc - d)
        return [x - d, x, x + d]

    def update(self, points):
        self._rounds += 1
        if self._phase == "fit":
            self._phase = "vertex"
            tb = self.pts[1][0]
            t = np.array([p[0] for p in points]) - tb
            f = np.array([p[1] for p in points])
            ok = np.isfinite(f)
            if ok.sum() >= 3:
                c2, c1, _ = np.polyfit(t[ok], f[ok] - f[ok].max(), 2)
                vertex = -c1 / (2.0 * c2) if c2 < 0.0 else math.nan
                if abs(vertex) <= self._stencil:
                    lo, hi = self.window
                    self._vertex = min(max(tb + vertex, lo), hi)
                    return
            self.done = True
            return
        if self._phase == "vertex":
            (x,) = points
            if x[1] > -math.inf:
                self.pts = [self.pts[0], x, self.pts[2]]
            self.done = True
            return
        width = self.pts[2][0] - self.pts[0][0]
        self._last = points if len(points) == 3 else None
        pts = sorted(self.pts + points, key=lambda p: p[0])
        k = 1 + max(range(len(pts) - 2), key=lambda i: pts[i + 1][1])
        self.pts = [pts[k - 1], pts[k], pts[k + 1]]
        self._stalled = self.pts[2][0] - self.pts[0][0] > 0.5 * width
        self._check_width()


def _vertex(a, b, c):
    """Time of the vertex of the parabola through three (t, height, ...) points, or None."""
    (ta, fa, _), (tb, fb, _), (tc, fc, _) = a, b, c
    if not ta < tb < tc:
        return None
    num = (tb - ta) ** 2 * (fb - fc) - (tb - tc) ** 2 * (fb - fa)
    den = (tb - ta) * (fb - fc) - (tb - tc) * (fb - fa)
    if not (den != 0.0 and math.isfinite(num) and math.isfinite(den)):
        return None
    # a maximum only: the parabola must open downwards
    if not (fb - fa) / (tb - ta) > (fc - fb) / (tc - tb):
        return None
    return tb - 0.5 * num / den


def _hermite_peak(pts, slopes):
    """First estimate of the peak inside a triple of samples whose height rates are known: the
    top of the cubic Hermite interpolant on the side of b where the rate changes sign.
    None when the rates do not show a maximum there."""
    (ta, fa, _), (tb, fb, _), (tc, fc, _) = pts
    sa, sb, sc = slopes
    if sb > 0.0:
        p, q, fp, fq, sp, sq = tb, tc, fb, fc, sb, sc
    else:
        p, q, fp, fq, sp, sq = ta, tb, fa, fb, sa, sb
    if not (sp > 0.0 > sq):
        return None
    h = q - p
    # d/du of the interpolant on u in [0, 1]: A u^2 + B u + C, positive at 0, negative at 1
    A = 6.0 * (fp - fq) + 3.0 * h * (sp + sq)
    B = 6.0 * (fq - fp) - h * (4.0 * sp + 2.0 * sq)
    C = h * sp
    if abs(A) <= 1e-12 * (abs(B) + abs(C)):
        u = -C / B
    else:
        disc = B * B - 4.0 * A * C
        if not disc >= 0.0:
            return None
        # the root where the derivative turns from positive to negative
        root = math.sqrt(disc)
        q_ = -0.5 * (B + math.copysign(root, B))
        cands = [r for r in (q_ / A, C / q_ if q_ != 0.0 else math.nan) if 0.0 <= r <= 1.0]
        if not cands:
            return None
        u = cands[0]
    if not 0.0 <= u <= 1.0:
        return None
    return p + u * h


class _EdgePeak:
    """Maximum search where the highest sample of a pass is its first or last one and the
    pass is cut there (window edge or failed propagation): is there a higher point between
    the edge e and its neighbour c, or is the edge itself the highest point?"""

    __slots__ = ("edge", "far", "slope", "window", "done", "peak", "_rounds")

    def __init__(self, edge, far, slope, window):
        self.window = window
        self.edge, self.far = edge, far  # (t, height, elevation), height(far) <= height(edge)
        self.slope = slope  # height rate at the edge, towards the far point positive
        self.peak = None  # a _Peak once a point above the edge is found
        self._rounds = 0
        self.done = abs(far[0] - edge[0]) <= TOLERANCE_S

    @property
    def best(self):
        return self.peak.best if self.peak is not None else None

    def probes(self):
        if self.peak is not None:
            return self.peak.probes()
        (te, fe, _), (tc, fc, _) = self.edge, self.far
        h = abs(tc - te)
        direction = 1.0 if tc > te else -1.0
        if not self.slope > 0.0:
            tau = 0.9 * TOLERANCE_S
        else:
            # vertex of the parabola with the edge's value and slope through the far point
            tau = self.slope * h * h / (2.0 * (self.slope * h - (fc - fe)))
            tau = min(max(tau, 0.9 * TOLERANCE_S), h - 0.5 * TOLERANCE_S)
        return [te + direction * tau]

    def update(self, points):
        self._rounds += 1
        if self.peak is not None:
            self.peak.update(points)
            self.done = self.peak.done
            return
        (x,) = points
        if x[1] > self.edge[1]:
            lo, hi = sorted([self.edge, self.far], key=lambda p: p[0])
            self.peak = _Peak(lo, x, hi, self.window)
            self.done = self.peak.done
        else:
            self.far = x
            self.done = abs(x[0] - self.edge[0]) <= TOLERANCE_S or self._rounds >= _MAX_ROUNDS


class _Crossings:
    """The crossings bracketed by samples lo[i] and hi[i] (one on each side), refined
    together.

    Each round places a probe pair 2 * _PROBE_S apart around the Hermite estimate of the
    root and keeps the sub-interval where the side changes first; a bracket no wider than
    the tolerance is done.  The crossing is the chord's root in the final bracket, and its
    azimuth is interpolated there.
    """

    __slots__ = ("t0", "t1", "g0", "g1", "p0", "p1", "up0", "az0", "az1", "_active")

    def __init__(self, lo, hi):
        self.t0, self.t1, self.g0, self.g1 = lo.t, hi.t, lo.g, hi.g
        self.p0, self.p1, self.up0, self.az0, self.az1 = lo.gdot, hi.gdot, lo.up, lo.az, hi.az
        self._active = None

    @property
    def done(self):
        return not (self.t1 - self.t0 > TOLERANCE_S).any()

    def probes(self):
        i = self._active = np.flatnonzero(self.t1 - self.t0 > TOLERANCE_S)
        t0, t1 = self.t0[i], self.t1[i]
        guess = t0 + _hermite_root(self.g0[i], self.g1[i], self.p0[i], self.p1[i], t1 - t0)
        guess = np.clip(guess, t0 + _PROBE_S, t1 - _PROBE_S)
        return np.concatenate([guess - _PROBE_S, guess + _PROBE_S])

    def update(self, probes):
        i, m = self._active, self._active.size
        a, b = probes.take(slice(0, m)), probes.take(slice(m, None))
        # the side changes in [lo, a], else in [a, b], else in [b, hi]
        first = a.up != self.up0[i]
        second = ~first & (b.up != self.up0[i])
        for lo_name, hi_name, field in (
            ("t0", "t1", "t"),
            ("g0", "g1", "g"),
            ("p0", "p1", "gdot"),
            ("az0", "az1", "az"),
        ):
            lo, hi = getattr(self, lo_name), getattr(self, hi_name)
            pa, pb = getattr(a, field), getattr(b, field)
            lo[i] = np.where(first, lo[i], np.where(second, pa, pb))
            hi[i] = np.where(first, pa, np.where(second, pb, hi[i]))

    def result(self):
        with np.errstate(invalid="ignore", divide="ignore"):
            u = self.g0 / (self.g0 - self.g1)
        u = np.where(np.isfinite(u) & (u >= 0.0) & (u <= 1.0), u, 0.5)
        turn = (self.az1 - self.az0 + math.pi) % _TWO_PI - math.pi  # across the +-pi cut
        az = np.where(np.isfinite(turn), self.az0 + u * turn, self.az0)
        az = np.where(np.isfinite(az), az, self.az1)
        return self.t0 + u * (self.t1 - self.t0), az


def _refine(sampler, crossings, peaks):
    """Refine the crossings and run the peak searches together, one sampler call a round."""
    for _ in range(_MAX_ROUNDS):
        active = [s for s in peaks if not s.done]
        refine_crossings = not crossings.done
        if not active and not refine_crossings:
            break
        lists = [s.probes() for s in active]
        at_crossings = crossings.probes() if refine_crossings else np.empty(0)
        got = sampler(np.concatenate([at_crossings] + [np.asarray(x) for x in lists]), False)
        if refine_crossings:
            crossings.update(got.take(slice(0, at_crossings.size)))
        height = np.where(got.valid, got.height, -np.inf).tolist()
        el = got.el.tolist()
        k = at_crossings.size
        for s, lst in zip(active, lists, strict=True):
            s.update([(x, height[k + i], el[k + i]) for i, x in enumerate(lst)])
            k += len(lst)


# -- assembly -------------------------------------------------------------------------------


def _wrap_azimuth(az):
    az = float(az)
    if az < 0.0:
        az += _TWO_PI
        if az >= _TWO_PI:  # -tiny + 2 pi rounds to 2 pi
            az = 0.0
    return az


def find_passes(satellite, lat, lon, alt, start, stop, *, min_elevation=0.0, ellipsoid=None):
    """find_passes(satellite, lat: float, lon: float, alt: float, start, stop, *,
    min_elevation: float = 0.0, ellipsoid: Ellipsoid | None = None) -> list[Pass]

    The passes of ``satellite`` above ``min_elevation`` (radians) seen from the station at
    geodetic latitude ``lat``, longitude ``lon`` (radians) and altitude ``alt`` (metres) on
    ``ellipsoid`` (WGS-84 by default), between ``start`` and ``stop`` (anything ``Time``
    accepts, one epoch each).

    ``satellite`` is an ``SGP4`` propagator, a ``TLE`` (propagated with SGP4's defaults) or
    any object with the same ``propagate(time, *, errors=False)`` method returning a TEME
    ``StateVector`` in metres and m/s (and per-epoch error codes with ``errors=True``).

    Returns the passes in time order, each a ``Pass``; rise, set and culmination are exact
    to 0.01 s (a geostationary culmination, whose elevation changes by less than the
    rounding noise over tens of milliseconds, is the vertex of a least-squares fit).  A
    satellite that never rises gives an empty list; one that is up for the whole window
    gives one pass whose rise and set are None.  Epochs at which the propagation fails (a
    decayed orbit, for example) count as below the threshold and end a pass with set None.
    Positions are rotated from TEME to ITRF with the Earth orientation in force in
    ``orbalis.frames.frames``.

    Raises ValueError for ``stop`` before ``start``, a latitude outside [-pi/2, pi/2], a
    threshold outside [-pi/2, pi/2] or a non-finite station coordinate, and TypeError for
    arguments of the wrong kind.
    """
    station = _Station(lat, lon, alt, min_elevation, ellipsoid)
    t_start, t_stop = _epoch("start", start), _epoch("stop", stop)
    span = float(((t_stop.jd1 - t_start.jd1) + (t_stop.jd2 - t_start.jd2)) * _DAY_S)
    if span < 0.0:
        raise ValueError(
            f"find_passes: stop ({t_stop.utc.iso}) is before start ({t_start.utc.iso})"
        )
    propagator = _propagator(satellite)
    clock = _Clock(t_start, span)
    sampler = _Sampler(propagator, station, clock)

    elements = _elements(propagator, clock)
    step = _grid_step(elements, span)
    count = max(2, math.ceil(span / step) + 1) if span > 0.0 else 1
    samples = sampler(np.linspace(0.0, span, count))
    if not samples.valid.any():
        return []
    samples = _cover(sampler, samples, _CurvatureBound(elements, samples, station))

    # every change of side between two valid neighbours is one crossing
    n = samples.t.size
    valid, up = samples.valid, samples.up
    idx = np.flatnonzero(valid[:-1] & valid[1:] & (up[:-1] != up[1:]))
    crossings = _Crossings(samples.take(idx), samples.take(idx + 1))

    # runs of samples above the threshold, each with its peak searches
    edges = np.flatnonzero(np.diff(np.concatenate([[False], up, [False]]).astype(np.int8)))
    t, el, hdot, height = samples.t, samples.el, samples.hdot, samples.height
    plans, peaks, window = [], [], (0.0, span)
    for i, j in zip(edges[0::2].tolist(), (edges[1::2] - 1).tolist(), strict=True):
        # a valid neighbour below the threshold means a crossing; otherwise the pass is cut
        # there by the window or by a failure
        rise = i - 1 if i > 0 and valid[i - 1] else None
        set_ = j if j < n - 1 and valid[j + 1] else None
        first = i if rise is None else i - 1
        last = j if set_ is None else j + 1
        pts = [(t[k], height[k], el[k]) for k in range(first, last + 1)]
        m = len(pts) - 1
        searches = []
        for k in range(1, m):
            if pts[k - 1][1] < pts[k][1] >= pts[k + 1][1]:
                rates = (hdot[first + k - 1], hdot[first + k], hdot[first + k + 1])
                searches.append(_Peak(pts[k - 1], pts[k], pts[k + 1], window, rates))
        if m > 0 and rise is None and pts[0][1] >= pts[1][1]:
            searches.append(_EdgePeak(pts[0], pts[1], hdot[first], window))
        if m > 0 and set_ is None and pts[m][1] > pts[m - 1][1]:
            searches.append(_EdgePeak(pts[m], pts[m - 1], -hdot[last], window))
        highest = max(pts[i - first : j - first + 1], key=lambda p: p[1])
        plans.append((rise, set_, searches, highest))
        peaks.extend(searches)

    _refine(sampler, crossings, peaks)
    crossing_t, crossing_az = crossings.result()
    position = {k: p for p, k in enumerate(idx.tolist())}

    reported = []
    for rise, set_, searches, highest in plans:
        found = [s.best for s in searches if s.best is not None]
        top = max(found, key=lambda p: p[1]) if found else None
        if top is None or top[1] < highest[1]:
            # the highest point is the edge of the window (or of the valid propagation)
            culmination, max_el = None, float(highest[2])
        else:
            culmination, max_el = top[0], float(top[2])
        r = None if rise is None else position[rise]
        s_ = None if set_ is None else position[set_]
        reported.append(
            (
                (
                    None if r is None else crossing_t[r],
                    culmination,
                    None if s_ is None else crossing_t[s_],
                ),
                max_el,
                None if r is None else _wrap_azimuth(crossing_az[r]),
                None if s_ is None else _wrap_azimuth(crossing_az[s_]),
            )
        )

    # one conversion to Time for every reported epoch
    stamps = [x for epochs, *_ in reported for x in epochs if x is not None]
    times = iter(clock.utc(np.array(stamps, dtype=np.float64)))
    passes = []
    for epochs, max_el, rise_az, set_az in reported:
        rise, culmination, set_ = (None if x is None else next(times) for x in epochs)
        passes.append(Pass(rise, culmination, set_, max_el, rise_az, set_az))
    return passes
