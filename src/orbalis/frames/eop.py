"""Earth orientation tables for orbalis: reading IERS files, choosing the active source, and
interpolating UT1 - UTC, the pole coordinates and the length of day at UTC epochs.

The default source is the IERS-A table ``finals2000A.all`` shipped by the ``astropy-iers-data``
package (measured values since 1973 and about a year of predictions), read once, on first use.
Its rows take the Bulletin B values where the file holds them and the Bulletin A values
otherwise.  A user may install a table of numbers, zero Earth orientation, or a file of their
own (IERS ``finals2000A.all`` / ``finals.all`` or the EOP 14 / 20 C04 series).

Interpolation is linear in the UTC modified Julian date between table rows.  UT1 - UTC is
interpolated as UT1 - TAI, which is continuous, so that UT1 - UTC jumps by exactly one second
at a leap second instead of being smeared over the day.  Outside the table the nearest row's
UT1 - UTC, pole coordinates and length of day are held, and one ``EarthOrientationWarning``
naming the table's span is issued per table (the bundled table is read once per process).
"""

from __future__ import annotations

import threading
import warnings

import erfa
import numpy as np

__all__ = ["EarthOrientationWarning", "EarthOrientationTable"]

#: one arcsecond in radians
ARCSEC = np.pi / 648000.0
_MJD_ZERO = 2400000.5


class EarthOrientationWarning(UserWarning):
    """Issued once per Earth orientation table when an epoch lies outside it (the nearest
    row's values are then held), and when the bundled table cannot be found."""


def _quiet(func, *args):
    # the leap-second table warns about dates it cannot know; its last offset is the answer
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return func(*args)


def tai_minus_utc(u1, u2):
    """TAI - UTC in seconds at UTC Julian dates u1 + u2: the value at 0h of the UTC day, as
    ERFA's UTC to UT1 conversion takes it (constant through a day that ends in a leap
    second)."""
    iy, im, iday, _ = erfa.jd2cal(u1, u2)
    return _quiet(erfa.dat, iy, im, iday, 0.0)


class EarthOrientationTable:
    """EarthOrientationTable(mjd, dut1, xp, yp, lod, source) -> an immutable table.

    ``mjd``: UTC modified Julian dates, strictly increasing; ``dut1``: UT1 - UTC (s); ``xp``,
    ``yp``: pole coordinates (rad); ``lod``: excess length of day (s); ``source``: a short text
    naming where the values came from (used in messages).
    """

    __slots__ = ("mjd", "ut1_tai", "xp", "yp", "lod", "dut1_ends", "source", "_warned")

    def __init__(self, mjd, dut1, xp, yp, lod, source):
        mjd = np.array(mjd, dtype=np.float64, ndmin=1)
        if mjd.ndim != 1 or mjd.size < 2:
            raise ValueError(
                f"{source}: mjd must be a 1-d sequence of at least 2 dates, got shape {mjd.shape}"
            )
        if not np.all(np.isfinite(mjd)) or not np.all(np.diff(mjd) > 0):
            raise ValueError(f"{source}: mjd must be finite and strictly increasing")
        cols = {}
        for name, val in (("dut1", dut1), ("xp", xp), ("yp", yp), ("lod", lod)):
            try:
                a = np.broadcast_to(np.asarray(val, dtype=np.float64), mjd.shape).copy()
            except ValueError:
                raise ValueError(
                    f"{source}: {name} must be a scalar or hold one value per date "
                    f"({mjd.size}), got shape {np.shape(val)}"
                ) from None
            if not np.all(np.isfinite(a)):
                raise ValueError(f"{source}: {name} values must be finite")
            a.setflags(write=False)
            cols[name] = a
        mjd.setflags(write=False)
        self.mjd = mjd
        ut1_tai = cols["dut1"] - tai_minus_utc(np.full(mjd.shape, _MJD_ZERO), mjd)
        ut1_tai.setflags(write=False)
        self.ut1_tai = ut1_tai
        self.xp, self.yp, self.lod = cols["xp"], cols["yp"], cols["lod"]
        self.dut1_ends = (float(cols["dut1"][0]), float(cols["dut1"][-1]))
        self.source = source
        self._warned = False

    @property
    def span(self):
        """(first, last) UTC modified Julian date of the table."""
        return float(self.mjd[0]), float(self.mjd[-1])

    def __repr__(self):
        lo, hi = self.span
        return (
            f"<EarthOrientationTable {self.source}: {self.mjd.size} rows, MJD {lo:g} to "
            f"{hi:g} ({_iso_day(lo)} to {_iso_day(hi)})>"
        )

    def values(self, u1, u2, *, stacklevel=3):
        """Interpolated (ut1_tai, xp, yp, lod) at UTC Julian dates u1 + u2 (1-d arrays)."""
        mjd = (u1 - _MJD_ZERO) + u2
        grid = self.mjd
        ut1_tai = np.interp(mjd, grid, self.ut1_tai)
        xp = np.interp(mjd, grid, self.xp)
        yp = np.interp(mjd, grid, self.yp)
        lod = np.interp(mjd, grid, self.lod)
        if mjd.size:
            before, after = mjd < grid[0], mjd > grid[-1]
            if before.any() or after.any():
                # UT1 - UTC stays within 0.9 s by design, so holding it (not UT1 - TAI, which
                # drifts by a second a year) is the better guess far from the table
                for mask, held in ((before, self.dut1_ends[0]), (after, self.dut1_ends[1])):
                    if mask.any():
                        ut1_tai[mask] = held - tai_minus_utc(u1[mask], u2[mask])
                self._warn_outside(stacklevel + 1)
        return ut1_tai, xp, yp, lod

    def _warn_outside(self, stacklevel):
        if self._warned:
            return
        self._warned = True
        lo, hi = self.span
        warnings.warn(
            f"epochs outside the Earth orientation table {self.source} (MJD {lo:g} to {hi:g}, "
            f"{_iso_day(lo)} to {_iso_day(hi)}): the nearest row's values are held; this "
            "warning is given once per table",
            EarthOrientationWarning,
            stacklevel=stacklevel,
        )


def _iso_day(mjd):
    iy, im, iday, _ = erfa.jd2cal(_MJD_ZERO, mjd)
    return f"{int(iy):04d}-{int(im):02d}-{int(iday):02d}"


# -- reading IERS files ----------------------------------------------------------------------

# Byte columns (1-based, inclusive) of the IERS finals files, from their ReadMe: the same in
# finals2000A.all/.data/.daily and finals.all.
_FINALS_FIELDS = {
    "MJD": (8, 15),
    "PM-x (Bulletin A)": (19, 27),
    "PM-y (Bulletin A)": (38, 46),
    "UT1-UTC (Bulletin A)": (59, 68),
    "LOD (Bulletin A)": (80, 86),
    "PM-x (Bulletin B)": (135, 144),
    "PM-y (Bulletin B)": (145, 154),
    "UT1-UTC (Bulletin B)": (155, 165),
}
# Byte columns of the C04 series, from their published Fortran formats, by field count:
# EOP 14 C04 (3(I4),I7,2(F11.6),2(F12.7),...) and EOP 20 C04 (4(I4),F10.2,2(F12.6),F12.7,...).
_C04_LAYOUTS = {
    16: (
        "EOP 14 C04",
        {"MJD": (13, 19), "x": (20, 30), "y": (31, 41), "UT1-UTC": (42, 53), "LOD": (54, 65)},
    ),
    21: (
        "EOP 20 C04",
        {"MJD": (17, 26), "x": (27, 38), "y": (39, 50), "UT1-UTC": (51, 62), "LOD": (111, 122)},
    ),
}
_SPACE, _NUL, _DOT, _MINUS, _PLUS, _ZERO = (ord(c) for c in " \0.-+0")


def _block(lines):
    """The lines as a (rows, width) uint8 array, short lines padded with NUL bytes."""
    if not lines:
        return np.zeros((0, 1), dtype=np.uint8)
    a = np.array(lines, dtype=bytes)
    return a.view(np.uint8).reshape(len(lines), a.itemsize)


def _decimal_columns(sub):
    """Read a fixed-width column block of plain decimals ("-0.0595532") row by row.

    Returns (values, bad): NaN for a blank field, and a mask of rows that are not a plain
    decimal (a stray character, an inner space, a second point or sign).  The columns are
    scanned left to right, all rows at once; the digits are gathered into an integer mantissa
    m and the value is formed as m / 10**decimals, one correctly rounded division, so it
    equals float(text) to the bit.
    """
    rows = sub.shape[0]
    started = np.zeros(rows, dtype=bool)  # a non-space character has been seen
    ended = np.zeros(rows, dtype=bool)  # a space has followed the number
    point = np.zeros(rows, dtype=bool)
    negative = np.zeros(rows, dtype=bool)
    bad = np.zeros(rows, dtype=bool)
    mantissa = np.zeros(rows, dtype=np.int64)
    ndigits = np.zeros(rows, dtype=np.int64)
    decimals = np.zeros(rows, dtype=np.int64)
    for ch in np.ascontiguousarray(sub.T):
        space = (ch == _SPACE) | (ch == _NUL)
        value = ch.astype(np.int64) - _ZERO
        digit = (value >= 0) & (value <= 9)
        dot = ch == _DOT
        sign = (ch == _MINUS) | (ch == _PLUS)
        bad |= ~(space | digit | dot | sign) | (sign & started) | (dot & point)
        bad |= ended & ~space
        ended |= started & space
        point |= dot
        negative |= ch == _MINUS
        mantissa = np.where(digit, mantissa * 10 + value, mantissa)
        ndigits += digit
        decimals += digit & point
        started |= ~space
    bad |= started & ((ndigits == 0) | (ndigits > 15))
    values = mantissa.astype(np.float64) / 10.0**decimals
    values = np.where(negative, -values, values)
    values[~started] = np.nan
    return values, bad


def _field(block, first, last, name, source, line_no):
    """Numbers in byte columns first..last of every row; NaN where the field is blank."""
    width = block.shape[1]
    if first > width:
        return np.full(block.shape[0], np.nan)
    sub = np.ascontiguousarray(block[:, first - 1 : min(last, width)])
    values, bad = _decimal_columns(sub)
    if bad.any():
        i = np.argmax(bad)
        text = bytes(sub[i]).rstrip(b"\0").decode("latin-1")
        raise ValueError(
            f"{source}: line {line_no[i]}: cannot read {name} (columns {first}-{last}) from "
            f"{text!r}"
        )
    return values


def _finals_columns(raw, source):
    """(mjd, dut1, xp, yp, lod, has_b) of an IERS finals file; lod is NaN where blank."""
    lines = raw.splitlines()
    block = _block(lines)
    line_no = np.arange(1, len(lines) + 1)
    # a row without an MJD or UT1 - UTC is an empty line
    head = block[:, :68]
    nonblank = ~np.all((head == _SPACE) | (head == _NUL), axis=1)
    block, line_no = block[nonblank], line_no[nonblank]
    if block.shape[0] == 0:
        raise ValueError(f"{source}: no Earth orientation rows")
    vals = {
        name: _field(block, a, b, name, source, line_no) for name, (a, b) in _FINALS_FIELDS.items()
    }
    mjd = vals["MJD"]
    if np.isnan(mjd).any():
        i = np.argmax(np.isnan(mjd))
        raise ValueError(f"{source}: line {line_no[i]}: no MJD in columns 8-15")
    # past the predictions the rows hold dates only; every row before that must hold values
    filled = np.flatnonzero(~np.isnan(vals["UT1-UTC (Bulletin A)"]))
    if filled.size < 2:
        raise ValueError(f"{source}: fewer than two rows hold UT1-UTC")
    end = filled[-1] + 1
    for name in ("UT1-UTC (Bulletin A)", "PM-x (Bulletin A)", "PM-y (Bulletin A)"):
        missing = np.isnan(vals[name][:end])
        if missing.any():
            i = np.argmax(missing)
            a, b = _FINALS_FIELDS[name]
            raise ValueError(f"{source}: line {line_no[i]}: {name} (columns {a}-{b}) is blank")
    step = np.diff(mjd[:end])
    if np.any(step <= 0):
        i = np.argmax(step <= 0) + 1
        raise ValueError(f"{source}: line {line_no[i]}: MJD {mjd[i]:g} does not increase")

    def best(what):
        b, a = vals[f"{what} (Bulletin B)"][:end], vals[f"{what} (Bulletin A)"][:end]
        return np.where(np.isnan(b), a, b)

    has_b = ~np.isnan(vals["UT1-UTC (Bulletin B)"][:end])
    lod = vals["LOD (Bulletin A)"][:end] / 1000.0  # ms in the file
    return (mjd[:end], best("UT1-UTC"), best("PM-x") * ARCSEC, best("PM-y") * ARCSEC, lod, has_b)


def read_finals(raw, source):
    """An EarthOrientationTable from the bytes of an IERS finals file (fixed columns): the
    Bulletin B values where the file holds them, the Bulletin A values otherwise."""
    mjd, dut1, xp, yp, lod, _ = _finals_columns(raw, source)
    return _with_lod(mjd, dut1, xp, yp, lod, source)


def _with_lod(mjd, dut1, xp, yp, lod, source):
    """The table, with a blank length of day (the predictions have none) taken from the slope
    of UT1 - TAI: LOD = -d(UT1 - TAI)/dt in seconds per day."""
    if np.isnan(lod).any():
        ut1_tai = dut1 - tai_minus_utc(np.full(mjd.shape, _MJD_ZERO), mjd)
        derived = -np.gradient(ut1_tai, mjd)
        lod = np.where(np.isnan(lod), derived, lod)
    return EarthOrientationTable(mjd, dut1, xp, yp, lod, source)


def _c04_columns(raw, source):
    """(mjd, dut1, xp, yp, lod, label) of an EOP 14 or 20 C04 series file.

    Data lines are those that begin with a digit (the year); the others are headers.  The
    layout is told by the field count of the first data line: 16 fields for EOP 14 C04, 21
    for EOP 20 C04; then every data line is read in that layout's byte columns.
    """
    lines = raw.splitlines()
    block = _block(lines)
    data = (block[:, 0] >= _ZERO) & (block[:, 0] <= _ZERO + 9)
    rows = np.flatnonzero(data)
    if rows.size < 2:
        raise ValueError(f"{source}: fewer than two data lines")
    nfields = len(lines[rows[0]].split())
    if nfields not in _C04_LAYOUTS:
        raise ValueError(
            f"{source}: line {rows[0] + 1}: {nfields} fields; an EOP 14 C04 line has 16 and "
            "an EOP 20 C04 line 21"
        )
    label, where = _C04_LAYOUTS[nfields]
    block, line_no = block[rows], rows + 1
    cols = {}
    for name, (a, b) in where.items():
        cols[name] = _field(block, a, b, name, source, line_no)
        missing = np.isnan(cols[name])
        if missing.any():
            i = np.argmax(missing)
            raise ValueError(f"{source}: line {line_no[i]}: {name} (columns {a}-{b}) is blank")
    mjd = cols["MJD"]
    step = np.diff(mjd)
    if np.any(step <= 0):
        i = np.argmax(step <= 0) + 1
        raise ValueError(f"{source}: line {line_no[i]}: MJD {mjd[i]:g} does not increase")
    return mjd, cols["UT1-UTC"], cols["x"] * ARCSEC, cols["y"] * ARCSEC, cols["LOD"], label


def read_c04(raw, source):
    """An EarthOrientationTable from the bytes of an EOP 14 or 20 C04 series file."""
    mjd, dut1, xp, yp, lod, label = _c04_columns(raw, source)
    return EarthOrientationTable(mjd, dut1, xp, yp, lod, f"{source} ({label})")


def read_file(path):
    """An EarthOrientationTable from an IERS finals file or an EOP 14 / 20 C04 file, the kind
    told from the content: a finals line has the decimal point of its MJD in byte 13, a C04
    line begins with a four-digit year."""
    source = str(path)
    with open(path, "rb") as f:
        raw = f.read()
    for line in raw.splitlines():
        if len(line) > 12 and line[12:13] == b"." and line[7:12].strip().isdigit():
            return read_finals(raw, source)
        if line[:4].isdigit() and line[4:5] == b" ":
            return read_c04(raw, source)
    raise ValueError(
        f"{source}: not an IERS finals file (finals2000A.all, finals.all) or an EOP 14 / 20 C04 "
        "series: no line starts with a date"
    )


# -- the active source -------------------------------------------------------------------------

_BUNDLED = "bundled"
_lock = threading.Lock()
_bundled_table = None  # read on first use
_active = _BUNDLED  # _BUNDLED, None (zero Earth orientation) or an EarthOrientationTable


def bundled_table():
    """The IERS-A table of the astropy-iers-data package, read on first call; None (with a
    warning) when the package is missing."""
    global _bundled_table
    if _bundled_table is None:
        with _lock:
            if _bundled_table is None:
                _bundled_table = _read_bundled()
    return _bundled_table or None


def _read_bundled():
    try:
        import astropy_iers_data
    except ImportError:
        warnings.warn(
            "the astropy-iers-data package is not installed: Earth orientation is taken as "
            "zero (UT1 = UTC, pole on the axis); install it or call load_earth_orientation",
            EarthOrientationWarning,
            stacklevel=4,
        )
        return False
    version = getattr(getattr(astropy_iers_data, "_version", None), "version", "")
    label = f"finals2000A.all of astropy-iers-data {version}".rstrip()
    with open(astropy_iers_data.IERS_A_FILE, "rb") as f:
        mjd, dut1, xp, yp, lod, has_b = _finals_columns(f.read(), label)
    # Where the final (Bulletin B) values exist, the package's EOP 20 C04 series holds the
    # IERS reference values for the same days; they are taken, as astropy takes them, so that
    # both agree on the same data.  Rows without them keep the Bulletin A values.
    c04_file = getattr(astropy_iers_data, "IERS_B_FILE", None)
    if c04_file is not None:
        with open(c04_file, "rb") as f:
            c_mjd, c_dut1, c_xp, c_yp, c_lod, _ = _c04_columns(f.read(), str(c04_file))
        i = np.searchsorted(c_mjd, mjd).clip(0, c_mjd.size - 1)
        use = has_b & (c_mjd[i] == mjd)
        dut1, xp, yp = (np.where(use, c[i], a) for c, a in ((c_dut1, dut1), (c_xp, xp), (c_yp, yp)))
        lod = np.where(use, c_lod[i], lod)
        label += " with its EOP 20 C04 series"
    return _with_lod(mjd, dut1, xp, yp, lod, label)


def active_table():
    """The table transformations use, or None for zero Earth orientation."""
    source = _active
    if source is _BUNDLED:
        return bundled_table()
    return source


def install(table):
    """Make table (an EarthOrientationTable, or None for zero) the active source."""
    global _active
    _active = table


def use_bundled():
    """Return to the bundled IERS-A table."""
    global _active
    _active = _BUNDLED
