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
  a one-hour grid of TT and interpolated with cubic Lagrange polynomials: the interpolation
  error stays below 1e-14 rad (half a micrometre at geostationary distance).
- TEME -> ITRF is the classical rotation by the 1982 Greenwich mean sidereal time
  (``erfa.gmst82`` of UT1) into the pseudo-Earth-fixed frame, followed by polar motion without
  s', as in Vallado et al. (2006), "Revisiting Spacetrack Report #3", AIAA 2006-6753.
- Velocities gain or lose the Earth-rotation term omega x r when entering or leaving ITRF, with
  omega = 7.292115146706979e-5 rad/s about the pole, scaled by (1 - LOD / 86400 s) when a
  length-of-day excess is given.  The slow rotation of precession-nutation and polar motion is
  not differentiated (below 1e-4 m/s for a low orbit).

Earth orientation.  UT1 - UTC (``dut1``), the pole coordinates ``xp`` and ``yp`` and ``lod``
default to zero: then UT1 is taken equal to UTC and the pole to sit on the ITRF axis, which
places ITRF positions of a low orbit up to about 460 m (|UT1-UTC| < 0.9 s) and 17 m (polar
motion < 0.5") from the true Earth-fixed ones.  Measured values are given either per call,
as keyword arguments of ``transform_to`` (seconds for ``dut1`` and ``lod``, radians for ``xp``
and ``yp``; a scalar or one value per epoch), or once for all calls, as a table installed with
``set_earth_orientation`` and removed with ``clear_earth_orientation``; keyword arguments win
over the table.

Accuracy.  With the same Earth orientation values, positions agree with astropy's GCRS, ITRS
and TEME frames to about 1e-8 m for low orbits (floating-point rounding; the models are the
same).  Velocities differ by up to 1e-4 m/s: astropy differentiates the whole rotation
numerically, precession-nutation included and, for TEME, at the rate of GMST rather than of the
Earth rotation angle.  Round trips between any two frames return the inputs to within 1e-8 m
and 1e-11 m/s.
"""

from __future__ import annotations

import warnings

import erfa
import numpy as np

from orbalis.time.time import Time

__all__ = [
    "Frame",
    "GCRF",
    "ITRF",
    "TEME",
    "OMEGA_EARTH",
    "set_earth_orientation",
    "clear_earth_orientation",
    "earth_orientation",
]

#: Earth rotation rate (rad/s): the rate of the Earth rotation angle, 2 pi 1.00273781191135448
#: per UT1 day.
OMEGA_EARTH = 7.292115146706979e-5

_DAY_S = 86400.0
_MJD_ZERO = 2400000.5
# CIP coordinates change slowly enough (their fastest terms have periods of days) that cubic
# interpolation on a one-hour grid is exact to ~5e-15 rad.  Each grid node costs one series
# evaluation (~30 us), so the grid is used only where it saves at least half of them; sparse
# epochs get the series itself.
_GRID_STEP_DAYS = 1.0 / 24.0
_EPOCHS_PER_NODE = 2
_EOP_NAMES = ("dut1", "xp", "yp", "lod")


def _quiet(func, *args):
    """Call an ERFA routine that consults the leap-second table, silencing "dubious year".

    Outside the table the last known (or, before 1960, no) offset applies, which is the
    sensible reading; the warning would otherwise fire for every epoch after the table's end.
    """
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return func(*args)


# -- Earth orientation ---------------------------------------------------------------------

_eop_table = None


def set_earth_orientation(mjd, dut1, xp, yp, lod=None):
    """set_earth_orientation(mjd, dut1, xp, yp, lod=None) -> None

    Install a table of Earth orientation values used by every later ``transform_to`` call
    that does not give them as keyword arguments.  ``mjd``: UTC modified Julian dates,
    strictly increasing; ``dut1``: UT1 - UTC in seconds; ``xp``, ``yp``: pole coordinates in
    radians (arcseconds times pi / 648000); ``lod``: excess length of day in seconds (zero when
    omitted).  Values are interpolated linearly; UT1 - UTC is interpolated as UT1 - TAI so that
    a leap second between two rows does not smear.  Epochs outside the table raise ValueError.
    """
    mjd = np.array(mjd, dtype=np.float64, ndmin=1)
    if mjd.ndim != 1 or mjd.size < 2:
        raise ValueError("set_earth_orientation: mjd must be a 1-d sequence of at least 2 dates")
    cols = {}
    for name, val in (("dut1", dut1), ("xp", xp), ("yp", yp),
                      ("lod", 0.0 if lod is None else lod)):
        a = np.broadcast_to(np.asarray(val, dtype=np.float64), mjd.shape).copy()
        if not np.all(np.isfinite(a)):
            raise ValueError(f"set_earth_orientation: {name} values must be finite")
        cols[name] = a
    if not np.all(np.isfinite(mjd)) or not np.all(np.diff(mjd) > 0):
        raise ValueError("set_earth_orientation: mjd must be finite and strictly increasing")
    cols["ut1_tai"] = cols["dut1"] - _tai_minus_utc(np.full(mjd.shape, _MJD_ZERO), mjd)
    cols["mjd"] = mjd
    global _eop_table
    _eop_table = cols


def clear_earth_orientation():
    """clear_earth_orientation() -> None: remove the table; Earth orientation is zero again."""
    global _eop_table
    _eop_table = None


def _tai_minus_utc(u1, u2):
    """TAI - UTC in seconds at UTC Julian dates u1 + u2, as the leap-second table states it
    (constant through a day that ends in a leap second)."""
    iy, im, iday, fd = erfa.jd2cal(u1, u2)
    return _quiet(erfa.dat, iy, im, iday, fd)


def earth_orientation(time):
    """earth_orientation(time) -> dict: the values ``transform_to`` uses without keywords.

    Returns {"dut1", "xp", "yp", "lod"} as float64 arrays with one value per epoch of
    ``time`` (flattened); all zero when no table is installed.
    """
    utc = Time(time).utc
    u1, u2 = utc.jd1.ravel(), utc.jd2.ravel()
    return _table_values(u1, u2)


def _table_values(u1, u2):
    table = _eop_table
    if table is None:
        return {name: np.zeros(u1.shape) for name in _EOP_NAMES}
    mjd = (u1 - _MJD_ZERO) + u2
    lo, hi = table["mjd"][0], table["mjd"][-1]
    if mjd.size and (mjd.min() < lo or mjd.max() > hi):
        raise ValueError(
            f"epoch outside the Earth orientation table (MJD {lo:g} to {hi:g}); extend the "
            "table, clear it, or pass dut1/xp/yp/lod to transform_to"
        )
    out = {name: np.interp(mjd, table["mjd"], table[name]) for name in ("xp", "yp", "lod")}
    out["dut1"] = np.interp(mjd, table["mjd"], table["ut1_tai"]) + _tai_minus_utc(u1, u2)
    return out


# -- rotations -------------------------------------------------------------------------------

# Vectors travel as component triples (x, y, z) of 1-d arrays, so that each elementary
# rotation is a handful of whole-array operations and no stack of 3x3 matrices is built.

def _rot_z(c, s, v):
    """R3 with cos c and sin s applied to v: the axes turn about z (ERFA's rz convention)."""
    x, y, z = v
    return c * x + s * y, c * y - s * x, z


def _rot_y(c, s, v):
    """R2 with cos c and sin s applied to v (ERFA's ry convention)."""
    x, y, z = v
    return c * x - s * z, y, s * x + c * z


def _mat(m, v, transpose=False):
    """m @ v (or m.T @ v) for a stack of 3x3 matrices m of shape (k, 3, 3), k in {1, n}."""
    x, y, z = v
    if transpose:
        m = m.transpose(0, 2, 1)
    return tuple(m[:, i, 0] * x + m[:, i, 1] * y + m[:, i, 2] * z for i in range(3))


def _cip(tt1, tt2):
    """CIP coordinates X, Y and CIO locator s (IAU 2006/2000A) at TT epochs (k,)."""
    k = tt1.size
    base = np.floor(tt1.min()) if k else 0.0
    days = (tt1 - base) + tt2
    if k:
        first = int(np.floor(days.min() / _GRID_STEP_DAYS)) - 1
        last = int(np.floor(days.max() / _GRID_STEP_DAYS)) + 2
        nodes = last - first + 1
    if k == 0 or nodes * _EPOCHS_PER_NODE > k:
        return erfa.xys06a(tt1, tt2)
    grid = (first + np.arange(nodes)) * _GRID_STEP_DAYS
    gx, gy, gs = erfa.xys06a(base, grid)
    u = days / _GRID_STEP_DAYS
    cell = np.floor(u)
    f = u - cell
    i = (cell - first).astype(np.intp)
    # four-point Lagrange weights for nodes i-1, i, i+1, i+2
    fm1, fp1, fm2 = f - 1.0, f + 1.0, f - 2.0
    w0 = -f * fm1 * fm2 / 6.0
    w1 = fp1 * fm1 * fm2 / 2.0
    w2 = -fp1 * f * fm2 / 2.0
    w3 = fp1 * f * fm1 / 6.0

    def interp(g):
        return w0 * g[i - 1] + w1 * g[i] + w2 * g[i + 1] + w3 * g[i + 2]

    return interp(gx), interp(gy), interp(gs)


class _Epochs:
    """What one transform_to call needs to know about its epochs (k of them, k in {1, n}).

    UT1 comes from TAI as ERFA's utcut1 forms it (TAI-UTC of the UTC day, then UT1-TAI), so
    that the TAI date is computed once and also serves TT, which only the celestial frame
    needs and which is therefore formed on first use.
    """

    __slots__ = ("_tai1", "_tai2", "_tt", "ut11", "ut12", "polar", "omega")

    def __init__(self, time, eop):
        utc = time if time.scale == "utc" else time.utc
        u1, u2 = utc.jd1.ravel(), utc.jd2.ravel()
        k = u1.size
        missing = [name for name in _EOP_NAMES if eop[name] is None]
        table = _table_values(u1, u2) if missing and _eop_table is not None else None
        vals = {}
        for name in _EOP_NAMES:
            given = eop[name]
            if given is None:
                vals[name] = table[name] if table is not None else np.zeros(1)
                continue
            a = np.asarray(given, dtype=np.float64).ravel()
            if a.size not in (1, k):
                raise ValueError(
                    f"transform_to: {name} must be a scalar or hold one value per epoch "
                    f"({k}), got {a.size} values"
                )
            if not np.all(np.isfinite(a)):
                raise ValueError(f"transform_to: {name} must be finite")
            vals[name] = a
        self._tai1, self._tai2 = _quiet(erfa.utctai, u1, u2)
        self._tt = None
        iy, im, iday, _ = erfa.jd2cal(u1, u2)
        dat = _quiet(erfa.dat, iy, im, iday, 0.0)
        self.ut11, self.ut12 = erfa.taiut1(self._tai1, self._tai2, vals["dut1"] - dat)
        xp, yp = vals["xp"], vals["yp"]
        # the pole matrix without s' (s' joins the rotation angle); none at all for a pole
        # on the axis, which saves two rotations per state
        self.polar = None if not (np.any(xp) or np.any(yp)) else \
            erfa.pom00(xp, yp, 0.0).reshape(-1, 3, 3)
        self.omega = OMEGA_EARTH * (1.0 - vals["lod"] / _DAY_S)

    @property
    def tt(self):
        if self._tt is None:
            self._tt = erfa.taitt(self._tai1, self._tai2)
        return self._tt


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

    def _rotation(self, ep):
        """The _Rotation from this (inertial) frame towards ITRF at the epochs of ep."""
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
                f"transform_to: r and v must have the same shape, got {r_in.shape} and "
                f"{v_in.shape}"
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


class _Rotation:
    """An inertial frame's way to the terrestrial intermediate frame: R3(theta) B, where B is
    R2(d) R3(e) (the celestial-pole part of the CIO-based matrix) or the identity.  Cosines
    and sines are formed once and serve both position and velocity."""

    __slots__ = ("pole", "spin")

    def __init__(self, theta, e=None, d=None):
        self.pole = None if e is None else (np.cos(e), np.sin(e), np.cos(d), np.sin(d))
        self.spin = (np.cos(theta), np.sin(theta))

    def forward(self, v):
        if self.pole is not None:
            ce, se, cd, sd = self.pole
            v = _rot_y(cd, sd, _rot_z(ce, se, v))
        return _rot_z(*self.spin, v)

    def backward(self, v):
        c, s = self.spin
        v = _rot_z(c, -s, v)
        if self.pole is not None:
            ce, se, cd, sd = self.pole
            v = _rot_z(ce, -se, _rot_y(cd, -sd, v))
        return v


def _columns(a):
    return a[:, 0], a[:, 1], a[:, 2]


def _stack(v):
    out = np.empty((v[0].shape[0], 3))
    for i in range(3):
        out[:, i] = v[i]
    return out


def _transform(source, target, ep, r, v):
    """Rotate (r, v) from source to target through ITRF.

    An inertial frame reaches ITRF as r_ITRF = P R3(theta) B r (see _Rotation), P being the
    pole matrix of the epochs.  Between R3(theta) and P the frame turns with the Earth, so
    velocities lose ω x r there and regain it on the way back.
    """
    rc, vc = _columns(r), _columns(v)
    w = ep.omega
    if not source.earth_fixed:
        rot = source._rotation(ep)
        rc, vc = rot.forward(rc), rot.forward(vc)
        vc = (vc[0] + w * rc[1], vc[1] - w * rc[0], vc[2])
        if ep.polar is not None:
            rc, vc = _mat(ep.polar, rc), _mat(ep.polar, vc)
    if not target.earth_fixed:
        if ep.polar is not None:
            rc, vc = _mat(ep.polar, rc, True), _mat(ep.polar, vc, True)
        vc = (vc[0] - w * rc[1], vc[1] + w * rc[0], vc[2])
        rot = target._rotation(ep)
        rc, vc = rot.backward(rc), rot.backward(vc)
    return _stack(rc), _stack(vc)


class _GCRF(Frame):
    """Geocentric Celestial Reference Frame (axes of the ICRS, origin at the geocentre)."""

    __slots__ = ()
    name = "GCRF"
    description = "Geocentric Celestial Reference Frame"

    def _rotation(self, ep):
        tt1, tt2 = ep.tt
        x, y, s = _cip(tt1, tt2)
        # the CIO-based matrix C = R3(-(e + s)) R2(d) R3(e), as ERFA's c2ixys builds it
        r2 = x * x + y * y
        e = np.where(r2 > 0.0, np.arctan2(y, x), 0.0)
        d = np.arctan(np.sqrt(r2 / (1.0 - r2)))
        # W(xp, yp, s') R3(ERA) C = P(xp, yp) R3(ERA + s' - e - s) R2(d) R3(e)
        theta = erfa.era00(ep.ut11, ep.ut12) + erfa.sp00(tt1, tt2) - (e + s)
        return _Rotation(theta, e, d)


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

    def _rotation(self, ep):
        # TEME to the pseudo-Earth-fixed frame is R3(GMST 1982); the pole matrix follows
        # without s', as in the classical SGP4 reduction
        return _Rotation(erfa.gmst82(ep.ut11, ep.ut12))


GCRF = _GCRF()
ITRF = _ITRF()
TEME = _TEME()
