"""Epochs for orbalis: the ``Time`` type, one epoch or an array of epochs in UTC, TAI, TT, TDB
or UT1, with arithmetic in SI seconds and conversion from and to astropy, pandas and NumPy.

An epoch is held as a two-part Julian date, ``jd1`` (a whole number of days) plus ``jd2`` (the
fraction, within half a day of zero), both read-only float64 arrays.  The fraction keeps a
resolution of about 5e-12 s at any date, so microsecond round trips hold far from J2000.  UTC
dates follow the ERFA quasi-Julian-date convention, in which a day with a leap second is 86401 s
long; calendar conversions and changes of scale go through pyerfa and so include leap seconds
(TAI - UTC = 10 s in 1972, 37 s since 2017).  Before 1960 UTC is taken equal to TAI, and after
the end of pyerfa's leap-second table the last known offset applies.
"""

from __future__ import annotations

import datetime
import functools
import re
import warnings

import erfa
import numpy as np

__all__ = ["Time"]

_SCALES = ("utc", "tai", "tt", "tdb", "ut1")
_ERFA_SCALE = {"utc": "UTC", "tai": "TAI", "tt": "TT", "tdb": "TDB", "ut1": "UT1"}
# scales whose seconds are SI seconds (TDB's differ from them by parts in 1e8, periodically)
_UNIFORM = ("tai", "tt", "tdb")
_FORMATS = ("jd", "mjd", "iso", "isot", "datetime", "datetime64")
_MJD_ZERO = 2400000.5
# Scale changes round to a few units in the last place of the day fraction (~1e-11 s), so
# epochs held in different scales are compared to within a nanosecond.
_CROSS_SCALE_TOLERANCE_DAYS = 1e-9 / 86400.0

_ISO = re.compile(
    r"(?P<y>\d{4})"
    r"(?:-(?P<mo>\d{2})"
    r"(?:-(?P<d>\d{2})"
    r"(?:[T ](?P<h>\d{2}):(?P<mi>\d{2})"
    r"(?::(?P<s>\d{2})(?:\.(?P<f>\d+))?)?"
    r"(?P<zone>Z|[+-]\d{2}(?::?\d{2})?)?"
    r")?)?)?"
)


def _quiet(func, *args):
    """Call an ERFA routine, silencing its "dubious year" warning and reporting range errors
    as ValueError.

    The leap-second table cannot know the future and has no entries before 1960; ERFA warns
    about such dates but still returns the natural answer (the last known, or no, offset),
    which is what callers want.  Field validity is checked before any call, so the warning
    silenced here can only be that one.
    """
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", erfa.ErfaWarning)
            return func(*args)
    except erfa.ErfaError as exc:
        raise ValueError(f"epoch out of the supported range: {exc}") from None


def _two_sum(a, b):
    """Return s = fl(a + b) and the exact rounding error, so that a + b == s + err exactly."""
    s = a + b
    bb = s - a
    err = (a - (s - bb)) + (b - bb)
    return s, err


def _day_frac(val1, val2):
    """Split val1 + val2 (days) into a whole number of days and a fraction in [-0.5, 0.5].

    Both steps use error-free sums, so no precision is lost and the split is canonical: equal
    totals give pairs whose difference evaluates to exactly zero.
    """
    val1 = np.asarray(val1, dtype=np.float64)
    val2 = np.asarray(val2, dtype=np.float64)
    total, err = _two_sum(val1, val2)
    day = np.round(total)
    extra, frac = _two_sum(total, -day)
    frac = frac + (extra + err)
    # the correction can push the fraction just past a half day; move that day over
    excess = np.round(frac)
    day = day + excess
    extra, frac = _two_sum(total, -day)
    frac = frac + (extra + err)
    return day, frac


def _readonly(a):
    a = np.array(a, dtype=np.float64)  # a private copy: callers' arrays are never frozen
    a.setflags(write=False)  # the same as flags.writeable = False, at half the cost
    return a


def _is_leap_year(y):
    return y % 4 == 0 and (y % 100 != 0 or y % 400 == 0)


_MONTH_DAYS = (31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31)


def _check_fields(text, y, mo, d, h, mi, s, scale):
    """Validate calendar fields read from text; a UTC day ending in a leap second allows s < 61."""
    if not 1 <= mo <= 12:
        raise ValueError(f"Time: month out of range in {text!r}")
    ndays = 29 if mo == 2 and _is_leap_year(y) else _MONTH_DAYS[mo - 1]
    if not 1 <= d <= ndays:
        raise ValueError(f"Time: day out of range in {text!r}")
    if not 0 <= h <= 23:
        raise ValueError(f"Time: hour out of range in {text!r}")
    if not 0 <= mi <= 59:
        raise ValueError(f"Time: minute out of range in {text!r}")
    if s >= 60.0:
        if scale != "utc" or h != 23 or mi != 59 or s >= 61.0 or not _ends_in_leap_second(y, mo, d):
            raise ValueError(f"Time: seconds out of range in {text!r}")


def _ends_in_leap_second(y, mo, d):
    nxt = datetime.date(y, mo, d) + datetime.timedelta(days=1)
    before = _quiet(erfa.dat, y, mo, d, 0.5)
    after = _quiet(erfa.dat, nxt.year, nxt.month, nxt.day, 0.0)
    return after - before >= 0.5


def _parse_iso(text, scale):
    """Read an ISO 8601 date or date-time (or a four-digit year).

    Returns (y, mo, d, h, mi, s, zoned); zoned is True when the text carried "Z" or a UTC
    offset, in which case the fields have been moved to UTC.
    """
    m = _ISO.fullmatch(text.strip())
    if m is None:
        raise ValueError(
            f"Time: cannot read {text!r} as a date; expected a four-digit year or ISO 8601 "
            "such as '2024-03-01T12:34:56.123456'"
        )
    y = int(m["y"])
    mo = int(m["mo"] or 1)
    d = int(m["d"] or 1)
    h = int(m["h"] or 0)
    mi = int(m["mi"] or 0)
    s = float(m["s"] or 0)
    if m["f"]:
        s += float("0." + m["f"])
    zone = m["zone"]
    zoned = zone is not None
    field_scale = "utc" if zoned else scale
    if zone and zone != "Z":
        sign = 1 if zone[0] == "+" else -1
        digits = zone[1:].replace(":", "")
        off_h, off_m = int(digits[:2]), int(digits[2:] or 0)
        if off_h > 23 or off_m > 59:
            raise ValueError(f"Time: UTC offset out of range in {text!r}")
        _check_fields(text, y, mo, d, h, mi, min(s, 59.0), field_scale)
        # Offsets are whole minutes, so moving the minutes and keeping the seconds is exact
        # and keeps a leap second (23:59:60 local) on the right UTC minute.
        try:
            local = datetime.datetime(y, mo, d, h, mi)
            utc = local - sign * datetime.timedelta(hours=off_h, minutes=off_m)
        except (ValueError, OverflowError):
            raise ValueError(f"Time: cannot apply the UTC offset in {text!r}") from None
        y, mo, d, h, mi = utc.year, utc.month, utc.day, utc.hour, utc.minute
    _check_fields(text, y, mo, d, h, mi, s, field_scale)
    return y, mo, d, h, mi, s, zoned


def _fields_of_datetime(value):
    """Calendar fields of a datetime or date; an aware datetime is moved to UTC (zoned)."""
    if isinstance(value, datetime.datetime):
        zoned = value.utcoffset() is not None
        if zoned:
            value = value.astimezone(datetime.timezone.utc)
        s = value.second + value.microsecond / 1e6
        return value.year, value.month, value.day, value.hour, value.minute, s, zoned
    return value.year, value.month, value.day, 0, 0, 0.0, False


def _fields_of_datetime64(a):
    """Calendar fields (arrays) of a datetime64 array of any unit; these count days of 86400 s."""
    if np.any(np.isnat(a)):
        raise ValueError("Time: cannot read NaT (not-a-time) as an epoch")
    unit, _ = np.datetime_data(a.dtype)
    if unit == "generic":
        raise ValueError("Time: a datetime64 value needs a unit")
    days = a.astype("M8[D]")  # floors, also before 1970
    rem = a - days
    whole = rem // np.timedelta64(1, "s")
    frac = (rem - whole.astype("m8[s]")) / np.timedelta64(1, "s")
    months = days.astype("M8[M]")
    y = days.astype("M8[Y]").astype(np.int64) + 1970
    mo = months.astype(np.int64) % 12 + 1
    d = (days - months).astype(np.int64) + 1
    h = whole // 3600
    mi = whole % 3600 // 60
    s = (whole % 60) + frac
    return y, mo, d, h, mi, s


def _jd_of_fields(y, mo, d, h, mi, s, scale):
    """Two-part Julian date in the given scale of calendar fields in that scale."""
    return _quiet(erfa.dtf2d, _ERFA_SCALE[scale], y, mo, d, h, mi, s)


@functools.lru_cache(maxsize=512)
def _year_start(year, scale):
    # TLE catalogues ask for the same few years over and over; the read-only arrays are
    # shared by every Time of that year, as Time(Time) shares its source's
    jd1, jd2 = _day_frac(*_jd_of_fields(year, 1, 1, 0, 0, 0.0, scale))
    return _readonly(jd1), _readonly(jd2)


def _ut1_minus_tai(u1, u2):
    """UT1 - TAI (s) at UTC dates from the active Earth orientation source."""
    from orbalis.frames import frames  # frames imports this module: bound on first use

    table = frames._source_values(np.ravel(u1), np.ravel(u2))[0]
    return table.reshape(np.shape(u1))


def _tdb_minus_tt(jd1, jd2):
    """TDB - TT (s) at the geocentre: ERFA's dtdb series (Fairhead & Bretagnon 1990) with the
    observer at the centre of the Earth, so the topocentric terms (below 2 us) vanish."""
    return erfa.dtdb(jd1, jd2, 0.0, 0.0, 0.0, 0.0)


def _to_tai(jd1, jd2, src):
    if src == "tai":
        return jd1, jd2
    if src == "utc":
        return _quiet(erfa.utctai, jd1, jd2)
    if src == "tt":
        return erfa.tttai(jd1, jd2)
    if src == "tdb":
        # TT = TDB - (TDB - TT)(TT): two fixed-point steps, since TDB - TT changes by < 1e-9
        # of itself per second
        tt1, tt2 = jd1, jd2
        for _ in range(2):
            tt1, tt2 = jd1, jd2 - _tdb_minus_tt(tt1, tt2) / 86400.0
        return erfa.tttai(tt1, tt2)
    # ut1: UT1 - TAI is looked up at UTC, within a second of UT1; two steps settle it
    u1, u2 = jd1, jd2
    for _ in range(2):
        dta = _ut1_minus_tai(u1, u2)
        t1, t2 = jd1, jd2 - dta / 86400.0
        u1, u2 = _quiet(erfa.taiutc, t1, t2)
    return t1, t2


def _from_tai(jd1, jd2, dst):
    if dst == "tai":
        return jd1, jd2
    if dst == "utc":
        return _quiet(erfa.taiutc, jd1, jd2)
    if dst == "tt":
        return erfa.taitt(jd1, jd2)
    if dst == "tdb":
        tt1, tt2 = erfa.taitt(jd1, jd2)
        return tt1, tt2 + _tdb_minus_tt(tt1, tt2) / 86400.0
    u1, u2 = _quiet(erfa.taiutc, jd1, jd2)
    return erfa.taiut1(jd1, jd2, _ut1_minus_tai(u1, u2))


def _convert(jd1, jd2, src, dst):
    """Change the scale of a two-part Julian date, through TAI."""
    if src == dst:
        return jd1, jd2
    if (src, dst) == ("tt", "tdb") or (src, dst) == ("tdb", "tt"):
        sign = 1.0 if dst == "tdb" else -1.0
        t1, t2 = jd1, jd2
        for _ in range(1 if dst == "tdb" else 2):
            t1, t2 = jd1, jd2 + sign * _tdb_minus_tt(t1, t2) / 86400.0
        return _day_frac(t1, t2)
    jd1, jd2 = _to_tai(jd1, jd2, src)
    return _day_frac(*_from_tai(jd1, jd2, dst))


def _check_scale(scale):
    if not isinstance(scale, str):
        raise TypeError(f"Time: scale must be a str, not {type(scale).__name__}")
    s = scale.lower()
    if s not in _SCALES:
        raise ValueError(f"Time: unknown scale {scale!r}; expected one of {', '.join(_SCALES)}")
    return s


def _check_format(fmt):
    if not isinstance(fmt, str):
        raise TypeError(f"Time: format must be a str, not {type(fmt).__name__}")
    f = fmt.lower()
    if f not in _FORMATS:
        raise ValueError(f"Time: unknown format {fmt!r}; expected one of {', '.join(_FORMATS)}")
    return f


def _finite_numbers(value, fmt):
    """value as a float64 array of finite numbers, or TypeError/ValueError naming the fault."""
    if isinstance(value, (str, bytes)):
        raise TypeError(f"Time: format={fmt!r} needs numbers, not {type(value).__name__}")
    try:
        a = np.asarray(value)
    except Exception as exc:
        raise TypeError(f"Time: cannot read {type(value).__name__} as numbers: {exc}") from None
    if a.dtype.kind not in "iuf":
        raise TypeError(f"Time: format={fmt!r} needs real numbers, got an array of dtype {a.dtype}")
    a = a.astype(np.float64)
    if not np.all(np.isfinite(a)):
        raise ValueError(f"Time: format={fmt!r} values must be finite")
    return a


def _split_two_floats(a, b):
    """(jd1, jd2) of the Julian date a + b (two finite floats), with the very operations of
    _numbers and _day_frac on arrays, as Python float arithmetic (round() also rounds half
    to even), so a scalar gives the bits an array would."""
    s, e = _two_sum(a, b)
    day = float(round(s))
    frac = (s - day) + e
    total, err = _two_sum(day, frac)
    day = float(round(total))
    extra, frac = _two_sum(total, -day)
    frac = frac + (extra + err)
    day = day + float(round(frac))
    extra, frac = _two_sum(total, -day)
    return day, frac + (extra + err)


def _numbers(value, fmt, value2=None):
    """Two-part Julian date of numbers read as Julian dates or modified Julian dates.

    With value2 the date is the exact sum value + value2 (two arrays that broadcast), split
    by error-free sums: only the final fraction is rounded, once.
    """
    a = _finite_numbers(value, fmt)
    if value2 is not None:
        b = _finite_numbers(value2, fmt)
        try:
            a, b = np.broadcast_arrays(a, b)
        except ValueError:
            raise ValueError(
                f"Time: the two parts have shapes {a.shape} and {b.shape}, which do not broadcast"
            ) from None
        with np.errstate(over="ignore", invalid="ignore"):
            a, b = _two_sum(a, b)
        if not np.all(np.isfinite(a)):
            raise ValueError(f"Time: format={fmt!r} values must be finite")
    # value - round(value) is exact, so the pair sums back to the very same float
    day = np.round(a)
    frac = a - day
    if value2 is not None:
        frac = frac + b  # the one rounding of a two-part input
    if fmt == "mjd":
        day = day + _MJD_ZERO
    return _day_frac(day, frac)


class Time:
    """Time(value, value2=None, format=None, scale=None) -> one epoch or an array of epochs.

    value:
        another ``Time`` (same epochs; converted when ``scale`` is given); a four-digit year
        string ("2024" is 00:00 on 1 January 2024) or an ISO 8601 date or date-time
        ("2024-03-01", "2024-03-01T12:34:56.123456", with "T" or a space, optionally ending in
        "Z" or a UTC offset such as "+02:00"); a ``datetime.datetime`` (naive: read in
        ``scale``; aware: an instant, moved to UTC) or ``datetime.date``; a NumPy
        ``datetime64`` value or array of any unit; numbers or arrays of numbers with
        ``format="jd"`` or ``format="mjd"``; a sequence or array of strings, dates or
        datetimes; an astropy ``Time`` (its scale kept, TCG and TCB converted to TT by
        astropy); a pandas ``DatetimeIndex``, ``Series`` of datetime64 or ``Timestamp``
        (naive: read in ``scale``; time-zone aware: instants).  Neither package is imported
        unless such an object is given.
    value2:
        a second part with ``format="jd"`` or ``format="mjd"``: the epoch is the exact sum
        ``value + value2``, as in ``Time(2460000.5, 0.123456789, format="jd")``.  The two
        numbers or arrays broadcast; the sum is split into whole days and a fraction by
        error-free two-sums, so a fraction carried in ``value2`` keeps its full resolution
        (about 1e-17 day) instead of the 40 us spacing of one Julian-date double.
    format:
        None (inferred from the value), "jd", "mjd", "iso", "isot", "datetime" or "datetime64".
    scale:
        "utc" (default), "tai", "tt", "tdb" or "ut1".  Calendar fields without a zone are read
        in this scale.  TDB is TT plus ERFA's ``dtdb`` series at the geocentre (the observer's
        topocentric terms, below 2 us, are left out); UT1 follows the active Earth orientation
        source of ``orbalis.frames`` (the bundled IERS table by default), so a UT1 epoch
        converts with the data installed at the time of the conversion.

    Arithmetic counts SI seconds and keeps the two-part precision: ``t + seconds`` and
    ``t - seconds`` (a number, an array that broadcasts, a timedelta or timedelta64; through
    TAI for UTC and UT1, so one second stays one second across a leap second), ``t1 - t0`` in
    float64 seconds, and ``t0 + np.arange(0, 86400, 30)`` for a grid.  Epochs compare with
    ``==``, ``<``, ``<=``, ``>`` and ``>=``, element-wise; in different scales to within 1 ns.

    Raises TypeError for a value of the wrong kind and ValueError for an unreadable string, a
    field out of range, a non-finite number, or an unknown format or scale.
    """

    # _f1 and _f2 hold the floats of a Time made by _from_normalised until _jd1 and _jd2
    # are first read; every other Time sets _jd1 and _jd2 directly and leaves them unset.
    __slots__ = ("_jd1", "_jd2", "_scale", "_f1", "_f2")
    __hash__ = None  # element-wise equality, like an ndarray

    def __init__(self, value, value2=None, format=None, scale=None):
        if type(value) is float and format == "jd" and scale is None and value2 is None:
            if value == value and abs(value) < 1e15:
                # One Julian date as a float in the default scale, the commonest construction
                # (every TLE epoch): no argument normalisation, and each part is a fresh 0-d
                # array of the float itself (value - round(value) is exact).
                day = float(round(value))
                self._scale = "utc"
                self._jd1 = np.asarray(day)
                self._jd1.setflags(write=False)
                self._jd2 = np.asarray(value - day)
                self._jd2.setflags(write=False)
                return
        if scale is not None:
            scale = _check_scale(scale)
        if format is not None:
            format = _check_format(format)
        if value2 is not None and format not in ("jd", "mjd"):
            raise TypeError(
                "Time: a second value (value2) is read only with format='jd' or "
                f"format='mjd', got format={format!r} and value2 of type "
                f"{type(value2).__name__} (give the format by keyword)"
            )

        if value2 is None and _package_of(value) in ("astropy", "pandas"):
            value = _foreign(value, format, scale or "utc")
        if isinstance(value, Time):
            if value2 is not None:
                raise TypeError("Time: a second value (value2) cannot be added to a Time")
            self._scale = value._scale if scale is None else scale
            if self._scale == value._scale:
                self._jd1, self._jd2 = value._jd1, value._jd2  # read-only: safe to share
            else:
                jd1, jd2 = _convert(value._jd1, value._jd2, value._scale, self._scale)
                self._jd1, self._jd2 = _readonly(jd1), _readonly(jd2)
            return

        scale = scale or "utc"
        self._scale = scale
        if value2 is not None:
            if (
                type(value) is float
                and type(value2) is float
                and format == "jd"
                and abs(value) < 1e15
                and abs(value2) < 1e15
            ):  # also false for NaN
                jd1, jd2 = _split_two_floats(value, value2)
            else:
                jd1, jd2 = _numbers(value, format, value2)
        elif format in ("jd", "mjd"):
            if type(value) is float and format == "jd" and value == value and abs(value) < 1e15:
                # the common case of one Julian date as a float, without array round trips
                day = float(round(value))
                self._jd1, self._jd2 = _readonly(day), _readonly(value - day)
                return
            jd1, jd2 = _numbers(value, format)
        elif isinstance(value, str):
            if format not in (None, "iso", "isot"):
                raise TypeError(f"Time: format={format!r} does not read a str")
            if len(value) == 4 and value.isdigit():
                self._jd1, self._jd2 = _year_start(int(value), scale)
                return
            jd1, jd2 = self._from_field_rows([_parse_iso(value, scale)], scale, ())
        elif isinstance(value, (datetime.date, np.datetime64)) or (
            isinstance(value, np.ndarray) and value.dtype.kind == "M"
        ):
            jd1, jd2 = self._from_dates(value, format, scale)
        else:
            jd1, jd2 = self._from_sequence(value, format, scale)
        self._jd1, self._jd2 = _readonly(jd1), _readonly(jd2)

    # -- construction helpers -------------------------------------------------------------

    @staticmethod
    def _from_field_rows(rows, scale, shape):
        """Julian dates of rows (y, mo, d, h, mi, s, zoned), reshaped to shape."""
        if not rows:
            return np.zeros(shape), np.zeros(shape)
        cols = list(zip(*rows, strict=True))
        y, mo, d, h, mi = (np.array(c, dtype=np.int32) for c in cols[:5])
        s = np.array(cols[5], dtype=np.float64)
        zoned = np.array(cols[6], dtype=bool)
        if scale == "utc" or not zoned.any():
            jd1, jd2 = _jd_of_fields(y, mo, d, h, mi, s, scale)
        else:
            # zoned fields are UTC instants; the others are read in the requested scale
            jd1, jd2 = _jd_of_fields(y, mo, d, h, mi, s, scale)
            u1, u2 = _jd_of_fields(
                y[zoned], mo[zoned], d[zoned], h[zoned], mi[zoned], s[zoned], "utc"
            )
            jd1[zoned], jd2[zoned] = _convert(u1, u2, "utc", scale)
        jd1, jd2 = _day_frac(jd1, jd2)
        return jd1.reshape(shape), jd2.reshape(shape)

    @classmethod
    def _from_dates(cls, value, format, scale):
        if isinstance(value, datetime.date):
            if format not in (None, "datetime"):
                raise TypeError(f"Time: format={format!r} does not read a {type(value).__name__}")
            return cls._from_field_rows([_fields_of_datetime(value)], scale, ())
        if format not in (None, "datetime64"):
            raise TypeError(f"Time: format={format!r} does not read datetime64 values")
        a = np.asarray(value)
        y, mo, d, h, mi, s = _fields_of_datetime64(a)
        jd1, jd2 = _jd_of_fields(
            y.astype(np.int32),
            mo.astype(np.int32),
            d.astype(np.int32),
            h.astype(np.int32),
            mi.astype(np.int32),
            s,
            scale,
        )
        return _day_frac(jd1, jd2)

    @classmethod
    def _from_sequence(cls, value, format, scale):
        if isinstance(value, (bytes, bytearray)):
            raise TypeError("Time: cannot read bytes; decode them to str first")
        if isinstance(value, (bool, np.bool_)):
            raise TypeError("Time: cannot read a bool as an epoch")
        if isinstance(value, (int, float, np.integer, np.floating)):
            raise TypeError(
                f"Time: a number ({type(value).__name__}) is read only with format='jd' or "
                "format='mjd'"
            )
        if not isinstance(value, (list, tuple, np.ndarray)):
            raise TypeError(f"Time: cannot read a {type(value).__name__} as an epoch")
        try:
            a = np.asarray(value)
        except ValueError as exc:
            raise ValueError(
                f"Time: cannot read the sequence as an array of epochs: {exc}"
            ) from None
        kind = a.dtype.kind
        if kind == "M":
            return cls._from_dates(a, format, scale)
        if kind in "iuf" and a.size:
            raise TypeError("Time: numbers are read only with format='jd' or format='mjd'")
        if kind in "iuf" or kind == "U" or kind == "O":
            rows = []
            for item in a.ravel():
                if isinstance(item, str):
                    if format not in (None, "iso", "isot"):
                        raise TypeError(f"Time: format={format!r} does not read a str")
                    rows.append(_parse_iso(item, scale))
                elif isinstance(item, datetime.date):
                    if format not in (None, "datetime"):
                        raise TypeError(f"Time: format={format!r} does not read a datetime")
                    rows.append(_fields_of_datetime(item))
                elif isinstance(item, (np.datetime64, Time)):
                    t = Time(item, scale=scale)  # numpy has split any array Time apart
                    rows.append(("jd", float(t._jd1), float(t._jd2)))
                else:
                    raise TypeError(f"Time: cannot read a {type(item).__name__} as an epoch")
            return cls._rows_to_jd(rows, scale, a.shape)
        raise TypeError(f"Time: cannot read an array of dtype {a.dtype} as epochs")

    @classmethod
    def _rows_to_jd(cls, rows, scale, shape):
        # datetime64 and Time items inside object arrays arrive already converted
        if any(r[0] == "jd" for r in rows):
            jd1 = np.empty(len(rows))
            jd2 = np.empty(len(rows))
            fields = [(i, r) for i, r in enumerate(rows) if r[0] != "jd"]
            for i, r in enumerate(rows):
                if r[0] == "jd":
                    jd1[i], jd2[i] = r[1], r[2]
            if fields:
                f1, f2 = cls._from_field_rows([r for _, r in fields], scale, (len(fields),))
                idx = [i for i, _ in fields]
                jd1[idx], jd2[idx] = f1, f2
            return jd1.reshape(shape), jd2.reshape(shape)
        return cls._from_field_rows(rows, scale, shape)

    @classmethod
    def _from_parts(cls, jd1, jd2, scale):
        """A Time from an already split Julian date (no validation beyond the scale)."""
        t = cls.__new__(cls)
        t._scale = scale
        t._jd1, t._jd2 = _readonly(jd1), _readonly(jd2)
        return t

    @classmethod
    def _from_normalised(cls, jd1, jd2, scale="utc"):
        """A single-epoch Time from two floats already split as the constructor splits them
        (jd1 whole, |jd2| <= 0.5, as _day_frac leaves them); nothing is checked.

        The fast path of native callers that build one epoch at a time (TLE records): the
        floats are kept and the read-only 0-d arrays are made on first use, so the result
        behaves exactly as Time(jd1, jd2, format="jd", scale=scale) does.
        """
        t = object.__new__(cls)
        t._scale = scale
        t._f1 = jd1
        t._f2 = jd2
        return t

    def __getattr__(self, name):
        # Reached only for a slot that is unset: the arrays of a Time made by _from_normalised.
        if name == "_jd1" or name == "_jd2":
            try:
                jd1, jd2 = self._f1, self._f2
            except AttributeError:
                pass
            else:
                a1 = np.array(jd1, dtype=np.float64)
                a1.setflags(write=False)
                a2 = np.array(jd2, dtype=np.float64)
                a2.setflags(write=False)
                self._jd1, self._jd2 = a1, a2
                return a1 if name == "_jd1" else a2
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")

    @classmethod
    def now(cls):
        """Time.now() -> Time: the current epoch from the system clock, in UTC."""
        return cls(datetime.datetime.now(datetime.timezone.utc))

    # -- attributes -----------------------------------------------------------------------

    @property
    def jd1(self):
        """Whole days of the two-part Julian date (read-only float64 array)."""
        return self._jd1

    @property
    def jd2(self):
        """Fraction of the two-part Julian date, within half a day of zero (read-only)."""
        return self._jd2

    @property
    def scale(self):
        """Time scale: "utc", "tai", "tt", "tdb" or "ut1"."""
        return self._scale

    @property
    def shape(self):
        return self._jd1.shape

    @property
    def ndim(self):
        return self._jd1.ndim

    @property
    def size(self):
        """Number of epochs (1 for a single epoch)."""
        return self._jd1.size

    @property
    def isscalar(self):
        """True for a single epoch (shape ())."""
        return self._jd1.ndim == 0

    def _out(self, a):
        return float(a) if a.ndim == 0 else a

    @property
    def jd(self):
        """Julian date in this scale: a float for one epoch, a float64 array for many."""
        if self._jd1.ndim == 0:
            # one epoch: the same double sum, without a 0-d array round trip
            return float(self._jd1) + float(self._jd2)
        return self._jd1 + self._jd2

    @property
    def mjd(self):
        """Modified Julian date (jd - 2400000.5) in this scale, float or float64 array."""
        return self._out((self._jd1 - _MJD_ZERO) + self._jd2)

    def _calendar(self, ndp):
        return _quiet(erfa.d2dtf, _ERFA_SCALE[self._scale], ndp, self._jd1, self._jd2)

    @property
    def iso(self):
        """ISO 8601 text "YYYY-MM-DDTHH:MM:SS.ffffff" in this scale: a str, or an array of str."""
        iy, im, iday, hmsf = self._calendar(6)
        if self.isscalar:
            return _iso_text(int(iy), int(im), int(iday), hmsf)
        flat = [
            _iso_text(a, b, c, d)
            for a, b, c, d in zip(
                np.ravel(iy).tolist(),
                np.ravel(im).tolist(),
                np.ravel(iday).tolist(),
                np.ravel(hmsf),
                strict=True,
            )
        ]
        return (
            np.array(flat, dtype="U26").reshape(self.shape)
            if flat
            else np.zeros(self.shape, dtype="U26")
        )

    @property
    def utc(self):
        """The same epochs in UTC (a new Time)."""
        return Time(self, scale="utc")

    @property
    def tai(self):
        """The same epochs in TAI (a new Time)."""
        return Time(self, scale="tai")

    @property
    def tt(self):
        """The same epochs in TT (a new Time)."""
        return Time(self, scale="tt")

    @property
    def tdb(self):
        """The same epochs in TDB at the geocentre (a new Time)."""
        return Time(self, scale="tdb")

    @property
    def ut1(self):
        """The same epochs in UT1, from the active Earth orientation source (a new Time)."""
        return Time(self, scale="ut1")

    def to_datetime64(self):
        """Time.to_datetime64(self) -> datetime64 | ndarray[datetime64[ns]]: the UTC epochs,
        rounded to the nanosecond.  datetime64 has no leap seconds: an epoch inside one raises
        ValueError, as does one outside the nanosecond range (years 1678 to 2261)."""
        u = self if self._scale == "utc" else self.utc
        iy, im, iday, hmsf = _quiet(erfa.d2dtf, "UTC", 9, u._jd1, u._jd2)
        if np.any(hmsf["s"] == 60):
            raise ValueError("Time.to_datetime64: a leap second cannot be held by datetime64")
        if np.any((iy < 1678) | (iy > 2261)):
            raise ValueError(
                "Time.to_datetime64: epochs before 1678 or after 2261 are outside the range "
                f"of datetime64[ns] (years {int(np.min(iy))} to {int(np.max(iy))})"
            )
        _, mjd = erfa.cal2jd(iy, im, iday)
        days = mjd.astype(np.int64) - 40587  # MJD of 1970-01-01
        secs = ((days * 24 + hmsf["h"]) * 60 + hmsf["m"]) * 60 + hmsf["s"]
        ns = secs.astype(np.int64) * 1_000_000_000 + hmsf["f"]
        out = ns.astype("M8[ns]")
        return out[()] if out.ndim == 0 else out

    # -- arithmetic -----------------------------------------------------------------------

    # ndarray operands defer to Time's operators, so ``seconds + t`` and ``t + seconds`` agree
    __array_ufunc__ = None

    def _shift(self, seconds, sign):
        s = _seconds(seconds)
        try:
            shape = np.broadcast_shapes(self.shape, s.shape)
        except ValueError:
            raise ValueError(
                f"Time: cannot add seconds of shape {s.shape} to epochs of shape {self.shape}"
            ) from None
        scale = self._scale
        work = scale if scale in _UNIFORM else "tai"  # UTC and UT1 count SI seconds in TAI
        jd1, jd2 = _convert(self._jd1, self._jd2, scale, work)
        # whole days and a remainder, both exact, so that only the last division rounds
        days = np.round(s / 86400.0)
        rest = s - days * 86400.0
        jd1, jd2 = _day_frac(jd1 + sign * days, jd2 + sign * (rest / 86400.0))
        jd1, jd2 = _convert(jd1, jd2, work, scale)
        return Time._from_parts(np.broadcast_to(jd1, shape), np.broadcast_to(jd2, shape), scale)

    def __add__(self, other):
        """t + seconds -> Time: later by seconds (a number or array of SI seconds)."""
        if isinstance(other, Time):
            raise TypeError("Time: two epochs cannot be added; subtract them for an interval")
        return self._shift(other, 1.0)

    __radd__ = __add__

    def __sub__(self, other):
        """t - seconds -> Time; t - other_time -> float64 seconds (SI seconds; through TAI for
        UTC and UT1, so a leap second counts)."""
        if isinstance(other, Time):
            a1, a2, b1, b2, _ = self._common(other)
            d = ((a1 - b1) + (a2 - b2)) * 86400.0
            return float(d) if d.ndim == 0 else d
        return self._shift(other, -1.0)

    def __rsub__(self, other):
        raise TypeError(
            f"Time: cannot subtract a Time from a {type(other).__name__}; "
            "subtract seconds from the Time instead"
        )

    def _common(self, other):
        """Both epochs as (a1, a2, b1, b2, tolerance in days) in one scale: the shared scale
        when it counts SI seconds, else TAI."""
        if self._scale == other._scale and self._scale in _UNIFORM:
            return self._jd1, self._jd2, other._jd1, other._jd2, 0.0
        work = self._scale if self._scale in _UNIFORM else "tai"
        a1, a2 = _convert(self._jd1, self._jd2, self._scale, work)
        b1, b2 = _convert(other._jd1, other._jd2, other._scale, work)
        tol = 0.0 if self._scale == other._scale else _CROSS_SCALE_TOLERANCE_DAYS
        return a1, a2, b1, b2, tol

    def _order(self, other, test):
        if not isinstance(other, Time):
            return NotImplemented
        a1, a2, b1, b2, tol = self._common(other)
        res = test((a1 - b1) + (a2 - b2), tol)
        return bool(res) if res.ndim == 0 else res

    def __lt__(self, other):
        return self._order(other, lambda d, tol: d < -tol)

    def __le__(self, other):
        return self._order(other, lambda d, tol: d <= tol)

    def __gt__(self, other):
        return self._order(other, lambda d, tol: d > tol)

    def __ge__(self, other):
        return self._order(other, lambda d, tol: d >= -tol)

    def to_datetime(self):
        """Time.to_datetime(self) -> datetime | ndarray[object]: naive UTC datetimes,
        to the microsecond; an epoch inside a leap second raises ValueError."""
        u = self if self._scale == "utc" else self.utc
        iy, im, iday, hmsf = u._calendar(6)

        def one(y, mo, d, f):
            if int(f["s"]) == 60:
                raise ValueError("Time: a leap second cannot be held by datetime")
            return datetime.datetime(
                int(y), int(mo), int(d), int(f["h"]), int(f["m"]), int(f["s"]), int(f["f"])
            )

        if self.isscalar:
            return one(iy, im, iday, hmsf)
        out = np.empty(self.size, dtype=object)
        rows = zip(np.ravel(iy), np.ravel(im), np.ravel(iday), np.ravel(hmsf), strict=True)
        for i, row in enumerate(rows):
            out[i] = one(*row)
        return out.reshape(self.shape)

    # -- container protocol ---------------------------------------------------------------

    def __len__(self):
        if self.isscalar:
            raise TypeError("len() of a Time holding a single epoch")
        return len(self._jd1)

    def __getitem__(self, item):
        if self.isscalar:
            raise TypeError("a Time holding a single epoch is not subscriptable")
        return Time._from_parts(self._jd1[item], self._jd2[item], self._scale)

    def __iter__(self):
        if self.isscalar:
            raise TypeError("iteration over a Time holding a single epoch")
        return (self[i] for i in range(len(self)))

    # -- comparison -----------------------------------------------------------------------

    def __eq__(self, other):
        """Element-wise: the same instants.  Epochs in one scale compare exactly; epochs in
        different scales are compared in TAI to within 1 ns (the rounding of the change of
        scale)."""
        if not isinstance(other, Time):
            return NotImplemented
        if other._scale == self._scale:
            res = (self._jd1 - other._jd1) + (self._jd2 - other._jd2) == 0.0
        else:
            a, b = self.tai, other.tai
            diff = (a._jd1 - b._jd1) + (a._jd2 - b._jd2)
            res = np.abs(diff) <= _CROSS_SCALE_TOLERANCE_DAYS
        return bool(res) if res.ndim == 0 else res

    def __ne__(self, other):
        eq = self.__eq__(other)
        if eq is NotImplemented:
            return eq
        return not eq if isinstance(eq, bool) else ~eq

    # -- text and pickling ----------------------------------------------------------------

    def __repr__(self):
        if self.isscalar:
            return f"Time('{self.iso}', scale='{self._scale}')"
        flat = Time._from_parts(self._jd1.ravel(), self._jd2.ravel(), self._scale)
        if flat.size > 6:
            shown = (
                [repr(str(s)) for s in flat[:3].iso]
                + ["..."]
                + [repr(str(s)) for s in flat[-3:].iso]
            )
        else:
            shown = [repr(str(s)) for s in flat.iso]
        shape = "" if self.ndim == 1 and self.size <= 6 else f", shape={self.shape}"
        return f"Time([{', '.join(shown)}]{shape}, scale='{self._scale}')"

    def __str__(self):
        return self.iso if self.isscalar else str(self.iso)

    def __getstate__(self):
        return {"jd1": self._jd1, "jd2": self._jd2, "scale": self._scale}

    def __setstate__(self, state):
        if not isinstance(state, dict) or set(state) != {"jd1", "jd2", "scale"}:
            raise TypeError("Time.__setstate__: expected a dict with keys jd1, jd2 and scale")
        jd1 = np.asarray(state["jd1"], dtype=np.float64)
        jd2 = np.asarray(state["jd2"], dtype=np.float64)
        if jd1.shape != jd2.shape:
            raise ValueError("Time.__setstate__: jd1 and jd2 differ in shape")
        if not (np.all(np.isfinite(jd1)) and np.all(np.isfinite(jd2))):
            raise ValueError("Time.__setstate__: the Julian dates must be finite")
        self._scale = _check_scale(state["scale"])
        self._jd1, self._jd2 = _readonly(jd1), _readonly(jd2)


def _seconds(value):
    """value as a float64 array of finite SI seconds: numbers, arrays of numbers, timedelta
    or timedelta64; TypeError or ValueError naming what was received otherwise."""
    if isinstance(value, datetime.timedelta):
        return np.asarray(value.total_seconds())
    if isinstance(value, (bool, np.bool_, str, bytes)):
        raise TypeError(f"Time: cannot add or subtract a {type(value).__name__} as seconds")
    try:
        a = np.asarray(value)
    except Exception as exc:
        raise TypeError(f"Time: cannot read {type(value).__name__} as seconds: {exc}") from None
    if a.dtype.kind == "m":
        if np.any(np.isnat(a)):
            raise ValueError("Time: cannot add or subtract NaT (not-a-time)")
        a = a / np.timedelta64(1, "s")
    elif a.dtype.kind not in "iuf":
        raise TypeError(
            f"Time: seconds must be real numbers or timedelta64, got {type(value).__name__}"
            + (f" of dtype {a.dtype}" if isinstance(value, np.ndarray) else "")
        )
    a = a.astype(np.float64)
    if not np.all(np.isfinite(a)):
        raise ValueError("Time: seconds to add or subtract must be finite")
    return a


def _package_of(value):
    return type(value).__module__.partition(".")[0]


def _foreign(value, format, scale):
    """A Time (or datetime64 values) from an astropy Time or a pandas DatetimeIndex, Series or
    Timestamp, told by duck typing so that neither package is imported here."""
    kind = type(value).__name__
    if format is not None:
        raise TypeError(f"Time: format={format!r} does not read a {kind}")
    if _package_of(value) == "astropy" and hasattr(value, "jd1"):
        src = getattr(value, "scale", None)
        if src == "local":
            raise ValueError("Time: an astropy Time in the 'local' scale has no defined instant")
        if src not in _SCALES:
            value, src = value.tt, "tt"  # TCG, TCB: astropy converts them
        if getattr(value, "masked", False):
            raise ValueError("Time: cannot read a masked astropy Time (missing epochs)")
        jd1 = np.asarray(value.jd1, dtype=np.float64)
        jd2 = np.asarray(value.jd2, dtype=np.float64)
        if not (np.all(np.isfinite(jd1)) and np.all(np.isfinite(jd2))):
            raise ValueError("Time: the astropy Time holds non-finite Julian dates")
        return Time._from_parts(*_day_frac(jd1, jd2), src)
    if kind == "Timestamp":
        zoned = value.tzinfo is not None
        a = np.asarray((value.tz_convert(None) if zoned else value).to_datetime64())
    elif kind == "DatetimeIndex":
        zoned = value.tz is not None
        a = np.asarray((value.tz_convert(None) if zoned else value).to_numpy())
    elif kind == "Series" and hasattr(value, "dt") and value.dtype.kind == "M":
        zoned = getattr(value.dt, "tz", None) is not None
        a = np.asarray((value.dt.tz_convert(None) if zoned else value).to_numpy())
    else:
        dtype = getattr(value, "dtype", None)
        raise TypeError(
            f"Time: cannot read a pandas {kind}"
            + (f" of dtype {dtype}" if dtype is not None else "")
            + " as epochs; a DatetimeIndex, a Series of datetime64 or a Timestamp is read"
        )
    if a.dtype.kind != "M":
        raise TypeError(f"Time: a pandas {kind} gave values of dtype {a.dtype}, not datetime64")
    read = "utc" if zoned else scale  # zoned values are UTC instants
    jd1, jd2 = Time._from_dates(a, None, read)
    return Time._from_parts(jd1, jd2, read)


def _iso_text(y, mo, d, hmsf):
    return (
        f"{y:04d}-{mo:02d}-{d:02d}T{int(hmsf['h']):02d}:{int(hmsf['m']):02d}:"
        f"{int(hmsf['s']):02d}.{int(hmsf['f']):06d}"
    )
