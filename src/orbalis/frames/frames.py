"""Reference frames for orbalis: the ``Frame`` class, the frames GCRF, ITRF and TEME, and the
rotations of position and velocity between them.

Each frame is a single object: ``Frame["ITRF"] is ITRF``, and frame objects pickle and copy as
themselves.  ``frame.transform_to(target, time, r, v)`` returns new (N, 3) float64 position and
velocity arrays in the target frame; ``time`` holds one epoch (applied to every row) or N
epochs (one per row).  All transformations pass through the Earth-fixed ITRF:

- GCRF -> ITRF follows the IAU 2006/2000A CIO-based chain of the IERS Conventions (2010):
  r_ITRF = W(xp, yp, s') R3(ERA) C(X, Y, s) r_GCRF, with the CIP coordinates X, Y and the CIO
  locator s of ``erfa.xys06a``, the Earth rotation angle of ``erfa.era00`` (from UT1) and the
  TIO locator s' of ``erfa.sp00``.  For batches spanning many epochs X, Y and s are computed on
  a grid of TT and interpolated with Lagrange polynomials (four points on a one-hour grid, or
  eight on a six-hour grid for long spans): the interpolation error stays below 5e-15 rad
  (0.2 micrometre at geostationary distance).  The celestial pole offsets dX, dY are not
  applied (astropy does not apply them either).
- TEME -> ITRF is the classical rotation by the 1982 Greenwich mean sidereal time
  (``erfa.gmst82`` of UT1) into the pseudo-Earth-fixed frame, followed by polar motion without
  s', as in Vallado et al. (2006), "Revisiting Spacetrack Report #3", AIAA 2006-6753.
- Velocities gain or lose the Earth-rotation term omega x r when entering or leaving ITRF, with
  omega = 7.292115146706979e-5 rad/s about the celestial intermediate pole, scaled by
  (1 - LOD / 86400 s).  The slow rotation of precession-nutation and polar motion is not
  differentiated.

Each distinct epoch of a call is evaluated once: a state vector whose N rows share one epoch
costs one evaluation of the chain, and rows that repeat epochs share theirs.

Earth orientation.  UT1 - UTC (``dut1``), the pole coordinates ``xp`` and ``yp`` and the excess
length of day ``lod`` come, by default, from the IERS-A table bundled in the
``astropy-iers-data`` package (see ``orbalis.frames.eop``): measured values since 1973 and
about a year of predictions, interpolated linearly (UT1 - UTC as UT1 - TAI, so that it jumps by
exactly 1 s at a leap second).  Outside the table the nearest row's values are held and one
``EarthOrientationWarning`` names the table's span.  The source is chosen once for all calls:

- ``set_earth_orientation(mjd, dut1, xp, yp, lod=None)`` installs a table of numbers;
- ``set_earth_orientation(None)`` selects zero Earth orientation (UT1 = UTC, the pole on the
  ITRF axis), as earlier versions had by default;
- ``load_earth_orientation(path)`` reads and installs an IERS finals or EOP C04 file;
- ``clear_earth_orientation()`` returns to the bundled table.

Values given as keyword arguments of ``transform_to`` (seconds for ``dut1`` and ``lod``,
radians for ``xp`` and ``yp``; a scalar or one value per epoch) win over the source, and
``earth_orientation(time)`` reports the values a call would use.

Accuracy.  With the same Earth orientation values, positions agree with astropy's GCRS, ITRS
and TEME frames to about 1e-8 m for low orbits (floating-point rounding; the models are the
same), and with the bundled defaults to a few micrometres from low orbit to geostationary
distance, astropy reading the same package offline.  Velocities differ, measured against
astropy, by up to 5e-5 m/s in low orbit, 2e-4 m/s at GPS and 3.3e-4 m/s at geostationary
distance: astropy differentiates the whole rotation numerically, precession-nutation and
polar motion included and, for TEME, at the rate of GMST rather than of the Earth rotation
angle.  Round trips between any two frames return the inputs to within 1e-8 m and 1e-11 m/s.
"""

from __future__ import annotations

import warnings

import erfa
import numpy as np

from orbalis.frames import eop as _eop
from orbalis.frames.eop import EarthOrientationWarning
from orbalis.time.time import Time

__all__ = [
    "Frame",
    "GCRF",
    "ITRF",
    "TEME",
    "OMEGA_EARTH",
    "EarthOrientationWarning",
    "set_earth_orientation",
    "clear_earth_orientation",
    "load_earth_orientation",
    "earth_orientation",
]

#: Earth rotation rate (rad/s): the rate of the Earth rotation angle, 2 pi 1.00273781191135448
#: per UT1 day.
OMEGA_EARTH = 7.292115146706979e-5

_DAY_S = 86400.0
_MJD_ZERO = 2400000.5
# CIP coordinates change slowly (their fastest terms have periods of days), so Lagrange
# interpolation on a grid of TT reproduces the series: four points on a one-hour grid to
# ~4e-15 rad, eight points on a six-hour grid to ~6e-16 rad.  A grid node costs one series
# evaluation (~35 us) and an interpolated epoch about points / 1500 of one, so each call takes
# whichever of the two grids, or the series itself, evaluates least.
_GRIDS = ((1.0 / 24.0, tuple(range(-1, 3))), (0.25, tuple(range(-3, 5))))
_INTERPOLATIONS_PER_SERIES = 1500.0
_BLOCK_ROWS = 32768
_EOP_NAMES = ("dut1", "xp", "yp", "lod")
_NOT_GIVEN = object()


def _quiet(func, *args):
    """Call an ERFA routine that consults the leap-second table, silencing "dubious year".

    Outside the table the last known (or, before 1960, no) offset applies, which is the
    sensible reading; the warning would otherwise fire for every epoch after the table's end.
    """
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return func(*args)


# -- Earth orientation ---------------------------------------------------------------------


def set_earth_orientation(mjd, dut1=_NOT_GIVEN, xp=_NOT_GIVEN, yp=_NOT_GIVEN, lod=None):
    """set_earth_orientation(mjd, dut1, xp, yp, lod=None) -> None

    Install a table of Earth orientation values used by every later ``transform_to`` call
    that does not give them as keyword arguments.  ``mjd``: UTC modified Julian dates,
    strictly increasing; ``dut1``: UT1 - UTC in seconds; ``xp``, ``yp``: pole coordinates in
    radians (arcseconds times pi / 648000); ``lod``: excess length of day in seconds (zero when
    omitted).  Values are interpolated linearly; UT1 - UTC is interpolated as UT1 - TAI so that
    a leap second between two rows does not smear.  Outside the table the nearest row's values
    are held, with one ``EarthOrientationWarning``.

    ``set_earth_orientation(None)`` selects zero Earth orientation instead: UT1 = UTC and the
    pole on the ITRF axis.  ``clear_earth_orientation()`` returns to the bundled IERS table.
    """
    rest = (dut1, xp, yp)
    if mjd is None:
        if any(a is not _NOT_GIVEN for a in rest) or lod is not None:
            raise TypeError("set_earth_orientation(None) takes no other arguments")
        _eop.install(None)
        return
    missing = [n for n, a in zip(("dut1", "xp", "yp"), rest, strict=True) if a is _NOT_GIVEN]
    if missing:
        raise TypeError(f"set_earth_orientation() missing argument(s): {', '.join(missing)}")
    table = _eop.EarthOrientationTable(
        mjd, dut1, xp, yp, 0.0 if lod is None else lod, "from set_earth_orientation"
    )
    _eop.install(table)


def clear_earth_orientation():
    """clear_earth_orientation() -> None: return to the default, the IERS-A table of the
    ``astropy-iers-data`` package."""
    _eop.use_bundled()


def load_earth_orientation(path):
    """load_earth_orientation(path) -> None

    Read an Earth orientation file downloaded from the IERS and install it as the source for
    later calls: ``finals2000A.all``, ``finals2000A.data`` or ``finals.all`` (fixed columns;
    Bulletin B values where present, Bulletin A otherwise) or the EOP 14 or EOP 20 C04 series
    (the kind is told from the content).  A malformed file raises ValueError naming the line.
    """
    _eop.install(_eop.read_file(path))


def earth_orientation(time):
    """earth_orientation(time) -> dict: the values ``transform_to`` uses without keywords.

    Returns {"dut1", "xp", "yp", "lod"} (seconds, radians, radians, seconds) as float64 arrays
    with one value per epoch of ``time`` (flattened); all zero under
    ``set_earth_orientation(None)``.
    """
    utc = Time(time).utc
    u1, u2 = utc.jd1.ravel(), utc.jd2.ravel()
    ut1_tai, xp, yp, lod = _source_values(u1, u2)
    dut1 = ut1_tai + _eop.tai_minus_utc(u1, u2)
    return {"dut1": dut1, "xp": xp, "yp": yp, "lod": lod}


def _source_values(u1, u2):
    """(UT1 - TAI, xp, yp, lod) of the active source at UTC dates u1 + u2 (arrays)."""
    table = _eop.active_table()
    if table is None:
        zero = np.zeros(u1.shape)
        return zero - _eop.tai_minus_utc(u1, u2), zero, zero.copy(), zero.copy()
    return table.values(u1, u2, stacklevel=4)


# -- epochs ------------------------------------------------------------------------------------


def _distinct(jd1, jd2):
    """The distinct epochs of two-part dates (1-d): (d1, d2, index) with jd[i] = d[index[i]].

    index is None when every row is its own epoch, in order, or when all rows share one epoch
    (then d holds it once).  Runs of equal epochs are merged in one pass; only epochs that
    repeat out of order are found by sorting.
    """
    n = jd1.size
    if n <= 1 or ((jd1 == jd1[0]).all() and (jd2 == jd2[0]).all()):
        return jd1[:1], jd2[:1], None
    start = np.empty(n, dtype=bool)
    start[0] = True
    np.not_equal(jd1[1:], jd1[:-1], out=start[1:])
    start[1:] |= jd2[1:] != jd2[:-1]
    index = None
    if not start.all():
        index = np.cumsum(start) - 1
        jd1, jd2 = jd1[start], jd2[start]
    # normalised pairs (whole day, fraction within half a day) order as the dates do
    step1, step2 = np.diff(jd1), np.diff(jd2)
    if not np.all((step1 > 0) | ((step1 == 0) & (step2 > 0))):
        key = np.empty(jd1.size, dtype=np.complex128)  # sorts by jd1, then jd2: exact
        key.real, key.imag = jd1, jd2
        key, inverse = np.unique(key, return_inverse=True)
        inverse = inverse.ravel()
        jd1, jd2 = key.real.copy(), key.imag.copy()
        index = inverse if index is None else inverse[index]
    return jd1, jd2, index


def _cip(tt1, tt2):
    """CIP coordinates X, Y and CIO locator s (IAU 2006/2000A) at TT epochs (k,)."""
    k = tt1.size
    if k == 0:
        return erfa.xys06a(tt1, tt2)
    base = np.floor(tt1.min())
    days = (tt1 - base) + tt2
    lo, hi = days.min(), days.max()
    best, cost = None, float(k)  # the series at every epoch
    for step, offsets in _GRIDS:
        first = int(np.floor(lo / step)) + offsets[0]
        nodes = int(np.floor(hi / step)) + offsets[-1] - first + 1
        c = nodes + k * len(offsets) / _INTERPOLATIONS_PER_SERIES
        if c < cost:
            best, cost = (step, offsets, first, nodes), c
    if best is None:
        return erfa.xys06a(tt1, tt2)
    step, offsets, first, nodes = best
    grid = erfa.xys06a(base, (first + np.arange(nodes)) * step)
    u = days / step
    cell = np.floor(u)
    f = u - cell
    i = (cell - first).astype(np.intp)
    # Lagrange weights prod_{b != a} (f - b) / (a - b), from prefix and suffix products
    d = [f - b for b in offsets]
    prefix = [None, d[0]]
    for x in d[1:-1]:
        prefix.append(prefix[-1] * x)
    suffix = [None, d[-1]]
    for x in d[-2:0:-1]:
        suffix.append(suffix[-1] * x)
    suffix.reverse()
    out = [np.zeros(k), np.zeros(k), np.zeros(k)]
    for j, a in enumerate(offsets):
        denom = float(np.prod([a - b for b in offsets if b != a]))
        if prefix[j] is None:
            w = suffix[j] / denom
        elif suffix[j] is None:
            w = prefix[j] / denom
        else:
            w = prefix[j] * suffix[j] / denom
        at = i + a
        for c in range(3):
            out[c] += w * grid[c].take(at)
    return tuple(out)


def _utc_to_tai(u1, u2):
    """TAI of UTC two-part dates (1-d), as ERFA's utctai forms it, at one evaluation per UTC
    day: through a day TAI - UTC is affine in the fraction of the day (constant; growing by
    1 s over a day that ends in a leap second; drifting before 1972), so its values at 0h and
    12h give it for every epoch of the day."""
    day = np.floor((u1 - _MJD_ZERO) + u2)  # MJD of the UTC day
    days, index = _runs(day)
    start = _MJD_ZERO + days
    _, at0 = _quiet(erfa.utctai, start, np.zeros(days.size))
    _, at12 = _quiet(erfa.utctai, start, np.full(days.size, 0.5))
    rate = 2.0 * ((at12 - 0.5) - at0)
    if index is not None:
        at0, rate = at0[index], rate[index]
    frac = ((u1 - _MJD_ZERO) - day) + u2
    return u1, u2 + (at0 + rate * frac)


def _runs(a):
    """(values, index) with a = values[index] for a sorted or mostly repeating 1-d array;
    index None when a holds one value.  Equal neighbours are merged; any order is handled."""
    if a.size <= 1 or (a == a[0]).all():
        return a[:1], None
    start = np.empty(a.size, dtype=bool)
    start[0] = True
    np.not_equal(a[1:], a[:-1], out=start[1:])
    values, index = a[start], np.cumsum(start) - 1
    if np.any(np.diff(values) <= 0):
        values, inverse = np.unique(values, return_inverse=True)
        index = inverse.ravel()[index]
    return values, index


def _eop_keyword(name, value, k):
    a = np.asarray(value, dtype=np.float64).ravel()
    if a.size not in (1, k):
        raise ValueError(
            f"transform_to: {name} must be a scalar or hold one value per epoch ({k}), got "
            f"{a.size} values"
        )
    if not np.all(np.isfinite(a)):
        raise ValueError(f"transform_to: {name} must be finite")
    return a


class _Epochs:
    """What one transform_to call needs to know about its distinct epochs (k of them).

    ``index`` maps rows to epochs (None: k is 1, or every row is its own epoch).  UT1 comes
    from TAI as ERFA's utcut1 forms it (UT1 - TAI added to TAI), so that the TAI date is
    computed once and also serves TT, which only the celestial frame needs and which is
    therefore formed on first use.  ``spin`` is the Earth's angular velocity in ITRF (rad/s,
    three components): omega (1 - LOD / 86400 s) along the celestial intermediate pole.
    """

    __slots__ = ("index", "k", "_tai1", "_tai2", "_tt", "ut11", "ut12", "polar", "spin", "_chains")

    def __init__(self, time, eop):
        jd1, jd2 = time.jd1.ravel(), time.jd2.ravel()
        given = {
            name: _eop_keyword(name, eop[name], jd1.size)
            for name in _EOP_NAMES
            if eop[name] is not None
        }
        self.index = None
        if not any(a.size > 1 for a in given.values()):
            jd1, jd2, self.index = _distinct(jd1, jd2)
        if time.scale == "utc":
            u1, u2 = jd1, jd2
        else:
            utc = Time._from_parts(jd1, jd2, time.scale).utc
            u1, u2 = utc.jd1, utc.jd2
        if len(given) < len(_EOP_NAMES):
            source = dict(zip(("ut1_tai", "xp", "yp", "lod"), _source_values(u1, u2), strict=True))
        if "dut1" in given:
            ut1_tai = given["dut1"] - _eop.tai_minus_utc(u1, u2)
        else:
            ut1_tai = source["ut1_tai"]
        xp, yp, lod = (
            given[name] if name in given else source[name] for name in ("xp", "yp", "lod")
        )
        self.k = u1.size
        self._tai1, self._tai2 = _utc_to_tai(u1, u2)
        self._tt = None
        self.ut11, self.ut12 = erfa.taiut1(self._tai1, self._tai2, ut1_tai)
        # the pole matrix W(xp, yp) = R1(-yp) R2(-xp), s' going with the rotation angle
        self.polar = (_Turn(1, -xp), _Turn(0, -yp))
        # the Earth's angular velocity in ITRF: omega (1 - LOD / 86400 s) along W e_z
        omega = OMEGA_EARTH * (1.0 - lod / _DAY_S)
        pole = _rotate(self.polar, (0.0, 0.0, 1.0))
        self.spin = tuple(omega * c for c in pole)
        self._chains = {}

    @property
    def tt(self):
        if self._tt is None:
            self._tt = erfa.taitt(self._tai1, self._tai2)
        return self._tt

    def celestial(self, frame):
        """The rotations from the inertial frame to the terrestrial intermediate frame."""
        chain = self._chains.get(frame.name)
        if chain is None:
            chain = self._chains[frame.name] = frame._to_terrestrial(self)
        return chain


class _Turn:
    """An elementary rotation of the axes by angle about axis 0, 1 or 2 (ERFA's rx, ry, rz
    conventions), its cosine and sine formed once for every vector it turns."""

    __slots__ = ("axis", "c", "s")

    def __init__(self, axis, angle=None, c=None, s=None):
        self.axis = axis
        if angle is not None:
            c, s = _cos_sin(angle)
        self.c, self.s = c, s

    def inverse(self):
        return _Turn(self.axis, c=self.c, s=-self.s)


# Below this angle (rad) the Taylor terms 1 - a^2/2 + a^4/24 and a - a^3/6 give the cosine and
# sine to within a part in 1e-18: the first terms left out, a^6/720 and a^5/120, are below
# 2e-27 and 1e-22.  Pole coordinates (< 2e-6 rad) always qualify, at a fraction of the cost.
_SMALL_ANGLE = 1e-4


def _cos_sin(a):
    a = np.asarray(a, dtype=np.float64)
    if a.size and np.max(np.abs(a)) < _SMALL_ANGLE:
        a2 = a * a
        return 1.0 - a2 * (0.5 - a2 / 24.0), a - a * (a2 / 6.0)
    return np.cos(a), np.sin(a)


def _rotate(chain, v):
    """Apply the rotations of chain, first to last, to v given as three components."""
    x, y, z = v
    for t in chain:
        c, s = t.c, t.s
        if t.axis == 2:
            x, y = c * x + s * y, c * y - s * x
        elif t.axis == 1:
            x, z = c * x - s * z, s * x + c * z
        else:
            y, z = c * y + s * z, c * z - s * y
    return x, y, z


def _inverse(chain):
    return [t.inverse() for t in reversed(chain)]


def _cross(w, x):
    (w0, w1, w2), (x0, x1, x2) = w, x
    return w1 * x2 - w2 * x1, w2 * x0 - w0 * x2, w0 * x1 - w1 * x0


def _transform(source, target, ep, r, v):
    """Rotate (r, v) from source to target through ITRF.

    An inertial frame reaches ITRF as r_ITRF = W R C r, with C R the rotations to the
    terrestrial intermediate frame (celestial pole, then Earth rotation) and W the pole
    matrix.  ITRF turns with the Earth, so there velocities lose the rotation term:
    v_ITRF = W R C v - w x r_ITRF, w being the Earth's angular velocity.  Between two inertial
    frames the pole matrix and the rotation terms cancel, and only the rotations are applied.

    With fewer distinct epochs than rows, the rotations are first multiplied into one matrix
    per epoch (by turning the unit vectors), and the matrices applied to the rows: one
    evaluation of the chain per epoch, nine products per vector.
    """
    if source.earth_fixed:
        chain = _inverse(ep.polar) + _inverse(ep.celestial(target))
    elif target.earth_fixed:
        chain = ep.celestial(source) + list(ep.polar)
    else:
        chain = ep.celestial(source) + _inverse(ep.celestial(target))
    rows = r.shape[0]
    per_row = ep.index is None and ep.k == rows > 1
    m = None if per_row else _matrix(chain)
    r_out, v_out = np.empty((rows, 3)), np.empty((rows, 3))
    # blocks small enough for the temporaries to stay in cache
    for lo in range(0, rows, _BLOCK_ROWS):
        rows_of = _Block(ep, slice(lo, lo + _BLOCK_ROWS))
        # contiguous components: whole-array arithmetic on them runs at full vector speed
        rc = tuple(np.ascontiguousarray(r[rows_of.sl].T))
        vc = tuple(np.ascontiguousarray(v[rows_of.sl].T))
        spin = tuple(rows_of(a) for a in ep.spin)
        if source.earth_fixed:
            vc = tuple(a + b for a, b in zip(vc, _cross(spin, rc), strict=True))
        if per_row:
            block_chain = [_Turn(t.axis, c=rows_of(t.c), s=rows_of(t.s)) for t in chain]
            rc, vc = _rotate(block_chain, rc), _rotate(block_chain, vc)
        else:
            mb = [[rows_of(x) for x in row] for row in m]
            rc, vc = _times(mb, rc), _times(mb, vc)
        if target.earth_fixed:
            vc = tuple(a - b for a, b in zip(vc, _cross(spin, rc), strict=True))
        r_out[rows_of.sl] = np.stack(rc, axis=1)
        v_out[rows_of.sl] = np.stack(vc, axis=1)
    return r_out, v_out


class _Block:
    """Rows lo:hi of a call: per-epoch values seen as one value or one per row of the block."""

    __slots__ = ("sl", "index")

    def __init__(self, ep, sl):
        self.sl = sl
        self.index = None if ep.index is None else ep.index[sl]

    def __call__(self, a):
        if np.size(a) == 1:
            return float(np.reshape(a, ())) if isinstance(a, np.ndarray) else a
        return a[self.sl] if self.index is None else a[self.index]


def _matrix(chain):
    """The rows m[i] = (m[i][0], m[i][1], m[i][2]) of the product of chain, found by turning
    the unit vectors: floats for one epoch, else arrays with one value per epoch."""
    columns = [_rotate(chain, e) for e in ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0))]
    m = [[columns[j][i] for j in range(3)] for i in range(3)]
    if all(np.size(x) == 1 for row in m for x in row):
        return [[float(np.reshape(x, ())) for x in row] for row in m]
    return m


def _times(m, x):
    """m x for matrix rows m (see _matrix) and a vector x given as three components."""
    x0, x1, x2 = x
    return tuple(m[i][0] * x0 + m[i][1] * x1 + m[i][2] * x2 for i in range(3))


# -- frames ----------------------------------------------------------------------------------

_registry: dict[str, Frame] = {}


class _FrameType(type):
    """Metaclass of ``Frame``: lets the class itself be subscripted with a frame name."""

    def __getitem__(cls, name):
        """Frame[name] -> the frame object called name (the same object every time)."""
        if isinstance(name, Frame):
            return name
        try:
            return _registry[name]
        except (KeyError, TypeError):
            known = ", ".join(repr(n) for n in _registry)
            raise KeyError(f"unknown frame {name!r}; known frames: {known}") from None


class Frame(metaclass=_FrameType):
    """Base class of reference frames.  Each concrete frame class has a single instance,
    reached as ``Frame[name]`` or by its module name (``GCRF``, ``ITRF``, ``TEME``)."""

    __slots__ = ()
    #: short name under which ``Frame[name]`` finds the frame
    name: str = ""
    #: one-line description
    description: str = ""
    #: whether the frame turns with the Earth (its velocities exclude the rotation term)
    earth_fixed: bool = False

    def __new__(cls):
        if not cls.name:
            raise TypeError(f"{cls.__name__} is not a concrete frame; use Frame[name]")
        existing = _registry.get(cls.name)
        if existing is not None:
            if type(existing) is not cls:
                raise TypeError(f"a different frame is already named {cls.name!r}")
            return existing
        obj = super().__new__(cls)
        _registry[cls.name] = obj
        return obj

    @staticmethod
    def is_frame(name):
        """Frame.is_frame(name: str) -> bool: whether ``Frame[name]`` resolves name."""
        try:
            return name in _registry
        except TypeError:  # unhashable: certainly no frame name
            return False

    @staticmethod
    def names():
        """Frame.names() -> tuple[str, ...]: the names of the known frames."""
        return tuple(_registry)

    def __repr__(self):
        return f"Frame[{self.name!r}]"

    def __str__(self):
        return self.name

    def __reduce__(self):
        # a frame pickles as the module-level name bound to it, so it loads as the same object
        return self.name

    def __copy__(self):
        return self

    def __deepcopy__(self, memo):
        return self

    def _to_terrestrial(self, ep):
        """The rotations (a list of _Turn) from this inertial frame to its terrestrial
        intermediate frame at the epochs of ep; the pole matrix then reaches ITRF."""
        raise NotImplementedError(f"frame {self.name} defines no rotation to ITRF")

    def transform_to(self, target, time, r, v, *, dut1=None, xp=None, yp=None, lod=None):
        """Frame.transform_to(self, target: Frame | str, time: Time, r: ndarray[double],
        v: ndarray[double], *, dut1=None, xp=None, yp=None, lod=None)
        -> tuple[ndarray[double], ndarray[double]]

        Position r (m) and velocity v (m/s), arrays of shape (N, 3) (or one vector of shape
        (3,)), expressed in this frame at ``time`` (a ``Time``, or anything ``Time`` accepts,
        holding one epoch or N), re-expressed in ``target``.  Returns new writable float64
        arrays of the same shape; r and v are only read.  The optional Earth orientation
        values (UT1 - UTC and LOD in seconds, pole coordinates in radians; a scalar or one per
        epoch) replace the installed table or the default of zero.
        """
        target = Frame[target]
        if not isinstance(time, Time):
            time = Time(time)
        r_in = np.asarray(r, dtype=np.float64)
        v_in = np.asarray(v, dtype=np.float64)
        if r_in.shape != v_in.shape:
            raise ValueError(
                f"transform_to: r and v must have the same shape, got {r_in.shape} and {v_in.shape}"
            )
        single = r_in.shape == (3,)
        if not single and (r_in.ndim != 2 or r_in.shape[1] != 3):
            raise ValueError(f"transform_to: r and v must have shape (N, 3), got {r_in.shape}")
        r2 = r_in.reshape(1, 3) if single else r_in
        v2 = v_in.reshape(1, 3) if single else v_in
        n = r2.shape[0]
        if time.size not in (1, n):
            raise ValueError(
                f"transform_to: time holds {time.size} epochs but r and v have {n} rows"
            )
        if target is self:
            r_out, v_out = r2.copy(), v2.copy()
        elif n == 0:
            r_out, v_out = np.empty((0, 3)), np.empty((0, 3))
        else:
            ep = _Epochs(time, {"dut1": dut1, "xp": xp, "yp": yp, "lod": lod})
            r_out, v_out = _transform(self, target, ep, r2, v2)
        if single:
            return r_out.reshape(3), v_out.reshape(3)
        return r_out, v_out


class _GCRF(Frame):
    """Geocentric Celestial Reference Frame (axes of the ICRS, origin at the geocentre)."""

    __slots__ = ()
    name = "GCRF"
    description = "Geocentric Celestial Reference Frame"

    def _to_terrestrial(self, ep):
        tt1, tt2 = ep.tt
        x, y, s = _cip(tt1, tt2)
        # the CIO-based matrix C = R3(-(e + s)) R2(d) R3(e), as ERFA's c2ixys builds it, with
        # e = atan2(Y, X) and sin d = sqrt(X^2 + Y^2): the cosines and sines of e and d are
        # those ratios, so only the rotation angle needs trigonometry
        rho = np.sqrt(x * x + y * y)
        pole = rho > 0.0
        safe = np.where(pole, rho, 1.0)
        e = np.where(pole, np.arctan2(y, x), 0.0)
        turn_e = _Turn(2, c=np.where(pole, x / safe, 1.0), s=np.where(pole, y / safe, 0.0))
        turn_d = _Turn(1, c=np.sqrt((1.0 - rho) * (1.0 + rho)), s=rho)
        # R3(s') R3(ERA) C = R3(ERA + s' - e - s) R2(d) R3(e); W(xp, yp) follows
        theta = erfa.era00(ep.ut11, ep.ut12) + erfa.sp00(tt1, tt2) - (e + s)
        return [turn_e, turn_d, _Turn(2, theta)]


class _ITRF(Frame):
    """International Terrestrial Reference Frame (Earth-fixed)."""

    __slots__ = ()
    name = "ITRF"
    description = "International Terrestrial Reference Frame"
    earth_fixed = True


class _TEME(Frame):
    """True Equator, Mean Equinox frame of the SGP4 orbit propagator."""

    __slots__ = ()
    name = "TEME"
    description = "True Equator Mean Equinox frame"

    def _to_terrestrial(self, ep):
        # TEME to the pseudo-Earth-fixed frame is R3(GMST 1982); the pole matrix follows
        # without s', as in the classical SGP4 reduction
        return [_Turn(2, erfa.gmst82(ep.ut11, ep.ut12))]


GCRF = _GCRF()
ITRF = _ITRF()
TEME = _TEME()
