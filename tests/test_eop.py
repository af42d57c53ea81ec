"""Tests of Earth orientation data: the bundled IERS table against astropy reading the same
package offline, the choice of source, the readers of IERS finals and C04 files, the behaviour
at a leap second and outside the table, and one evaluation per distinct epoch."""

import socket
import warnings
from pathlib import Path

import astropy_iers_data
import numpy as np
import pytest

from orbalis.frames import eop, frames
from orbalis.frames.frames import GCRF, ITRF, TEME, EarthOrientationWarning, earth_orientation
from orbalis.time.time import Time

ARCSEC = np.pi / 648000.0
RADII = {"LEO": 6.9e6, "GPS": 26.56e6, "GEO": 42.164e6}  # m


@pytest.fixture(autouse=True)
def bundled():
    frames.clear_earth_orientation()
    yield
    frames.clear_earth_orientation()


def refuse_network(*args, **kwargs):
    raise OSError("network disabled")


@pytest.fixture
def offline_astropy(monkeypatch):
    """astropy reading only the bundled tables: no download, predictions accepted as they are,
    and any attempt at a connection fails."""
    iers = pytest.importorskip("astropy.utils.iers")
    monkeypatch.setattr(socket.socket, "connect", refuse_network)
    monkeypatch.setattr(socket, "create_connection", refuse_network)
    with iers.conf.set_temp("auto_download", False), iers.conf.set_temp("auto_max_age", None):
        yield iers


def states(n, radius, seed):
    rng = np.random.default_rng(seed)
    u = rng.normal(size=(n, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    w = np.cross(u, rng.normal(size=(n, 3)))
    w /= np.linalg.norm(w, axis=1)[:, None]
    return u * radius, w * np.sqrt(3.986004418e14 / radius)


def table_epochs(n, seed=0):
    """UTC epochs spread over the bundled table, measured values and predictions alike, plus
    one inside the 2016 leap second."""
    lo, hi = eop.bundled_table().span
    mjd = np.random.default_rng(seed).uniform(lo + 1, hi - 1, n)
    t = Time(mjd, format="mjd")
    extra = Time(["2016-12-31T23:59:60.5", "2024-03-01T12:00:00"])
    return Time(np.concatenate([t.jd1, extra.jd1]), np.concatenate([t.jd2, extra.jd2]), format="jd")


# -- against astropy ---------------------------------------------------------------------------


@pytest.mark.parametrize("orbit", list(RADII), ids=list(RADII))
@pytest.mark.parametrize(
    "source, target",
    [(GCRF, ITRF), (TEME, ITRF), (ITRF, GCRF)],
    ids=["GCRF-ITRF", "TEME-ITRF", "ITRF-GCRF"],
)
def test_default_agrees_with_astropy_within_5_mm(orbit, source, target, offline_astropy):
    coords = pytest.importorskip("astropy.coordinates")
    u = pytest.importorskip("astropy.units")
    from astropy.time import Time as ATime

    t = table_epochs(24, seed=len(orbit))
    r, v = states(t.size, RADII[orbit], seed=3)
    cls = {"GCRF": coords.GCRS, "ITRF": coords.ITRS, "TEME": coords.TEME}
    at = ATime(t.jd1, t.jd2, format="jd", scale="utc")
    rep = coords.CartesianRepresentation(
        r.T * u.m, differentials=coords.CartesianDifferential(v.T * u.m / u.s)
    )
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # astropy's notes on predicted values
        out = cls[source.name](rep, obstime=at).transform_to(cls[target.name](obstime=at))
    r_us, v_us = source.transform_to(target, t, r, v)
    dr = np.linalg.norm(r_us - out.cartesian.xyz.to_value(u.m).T, axis=1)
    assert dr.max() < 5e-3
    # astropy differentiates the whole rotation numerically (see the frames module)
    dv = np.linalg.norm(v_us - out.velocity.d_xyz.to_value(u.m / u.s).T, axis=1)
    assert dv.max() < 5e-4


def test_bundled_values_are_astropys(offline_astropy):
    t = table_epochs(200, seed=7)
    table = offline_astropy.earth_orientation_table.get()
    from astropy.time import Time as ATime

    at = ATime(t.jd1, t.jd2, format="jd", scale="utc")
    ours = earth_orientation(t)
    np.testing.assert_allclose(ours["dut1"], table.ut1_utc(at).to_value("s"), rtol=0, atol=1e-9)
    xp, yp = table.pm_xy(at)
    np.testing.assert_allclose(ours["xp"], xp.to_value("rad"), rtol=0, atol=1e-15)
    np.testing.assert_allclose(ours["yp"], yp.to_value("rad"), rtol=0, atol=1e-15)


def test_zero_orientation_is_far_from_the_real_one():
    # the reason for the default: without data a geostationary position is hundreds of m off
    r, v = states(50, RADII["GEO"], seed=1)
    t = table_epochs(48)
    real = GCRF.transform_to(ITRF, t, r, v)[0]
    frames.set_earth_orientation(None)
    zero = GCRF.transform_to(ITRF, t, r, v)[0]
    assert np.linalg.norm(real - zero, axis=1).max() > 100.0


# -- choosing the source -----------------------------------------------------------------------


def test_sources_and_keywords():
    t = Time(["2020-06-01T06:00:00", "2021-02-03"])
    r, v = states(2, RADII["LEO"], seed=2)
    default = earth_orientation(t)
    assert np.all(default["dut1"] != 0) and np.all(np.abs(default["dut1"]) < 0.9)
    assert np.all(np.abs(default["xp"]) < 1.0 * ARCSEC) and np.all(default["yp"] != 0)
    on_default = GCRF.transform_to(ITRF, t, r, v)
    np.testing.assert_allclose(
        GCRF.transform_to(ITRF, t, r, v, **default)[0], on_default[0], rtol=0, atol=1e-9
    )
    frames.set_earth_orientation(None)
    assert all(np.all(a == 0) for a in earth_orientation(t).values())
    zero = GCRF.transform_to(ITRF, t, r, v)
    explicit = GCRF.transform_to(ITRF, t, r, v, dut1=0.0, xp=0.0, yp=0.0, lod=0.0)
    np.testing.assert_array_equal(zero[0], explicit[0])
    # keywords win over any source
    np.testing.assert_allclose(
        GCRF.transform_to(ITRF, t, r, v, **default)[0], on_default[0], rtol=0, atol=1e-9
    )
    frames.clear_earth_orientation()
    np.testing.assert_array_equal(GCRF.transform_to(ITRF, t, r, v)[0], on_default[0])


@pytest.mark.parametrize(
    "args, match",
    [
        ((None, 0.1), "no other arguments"),
        (([1.0, 2.0], 0.0), "missing argument"),
        (([1.0, 2.0], 0.0, 0.0, [0.0, 0.0, 0.0]), "one value per date"),
    ],
    ids=["none-with-values", "missing-columns", "wrong-length"],
)
def test_set_earth_orientation_errors(args, match):
    with pytest.raises((TypeError, ValueError), match=match):
        frames.set_earth_orientation(*args)


def test_leap_second_is_a_jump_of_exactly_one_second_in_dut1():
    t = Time(["2016-12-31T23:59:60.999", "2017-01-01T00:00:00.000"])
    dut1 = earth_orientation(t)["dut1"]
    assert abs((dut1[1] - dut1[0]) - 1.0) < 1e-9
    # UT1 itself runs on: 1 ms of UTC is 1 ms of UT1
    ut1 = t.ut1
    assert abs((ut1[1] - ut1[0]) - 1e-3) < 1e-9


def test_outside_a_table_the_nearest_row_is_held_with_one_warning():
    frames.set_earth_orientation([60370.0, 60371.0], [0.1, 0.2], [1e-6, 2e-6], [3e-6, 4e-6])
    late, early = Time(["2025-06-01", "2026-01-01"]), Time("2020-01-01")
    with pytest.warns(
        EarthOrientationWarning, match="MJD 60370 to 60371, 2024-03-01 to 2024-03-02"
    ):
        vals = earth_orientation(late)
    np.testing.assert_allclose(vals["dut1"], 0.2, atol=1e-12)
    np.testing.assert_array_equal(vals["xp"], 2e-6)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # once per table
        vals = earth_orientation(early)
        r, v = states(1, RADII["LEO"], seed=0)
        GCRF.transform_to(ITRF, early, r, v)
    np.testing.assert_allclose(vals["dut1"], 0.1, atol=1e-12)
    np.testing.assert_array_equal(vals["yp"], 3e-6)


def test_bundled_table_warns_once_per_process(python_subprocess):
    out = python_subprocess(
        """
        import warnings
        import numpy as np
        from orbalis.frames.frames import GCRF, ITRF, earth_orientation
        from orbalis.time.time import Time
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            for when in ("2045-01-01", "1960-01-01", "2050-01-01"):
                GCRF.transform_to(ITRF, Time(when), np.ones(3) * 7e6, np.zeros(3))
            print(earth_orientation(Time("1960-01-01"))["dut1"][0])
        print(len(caught), caught[0].category.__name__)
        print(caught[0].message)
        """
    ).stdout.splitlines()
    first = eop.bundled_table().dut1_ends[0]
    assert abs(float(out[0]) - first) < 1e-12  # UT1 - UTC held, not UT1 - TAI
    assert out[1] == "1 EarthOrientationWarning"
    assert "1973-01-02 to" in out[2] and "finals2000A.all" in out[2]


def test_default_is_read_on_first_use_not_at_import(python_subprocess):
    out = python_subprocess(
        """
        import sys
        from orbalis.frames import eop, frames
        import orbalis.satellite.satellite
        print(eop._bundled_table is None, "astropy" in sys.modules)
        """
    ).stdout.split()
    assert out == ["True", "False"]


# -- reading files -----------------------------------------------------------------------------


def fortran_fields(line, columns):
    return [float(line[a - 1 : b]) for a, b in columns]


def test_load_finals_file_takes_bulletin_b_then_a(tmp_path):
    path = astropy_iers_data.IERS_A_FILE
    frames.load_earth_orientation(path)
    table = eop.active_table()
    lines = Path(path).read_text().splitlines()
    rows = {float(line[7:15]): line for line in lines}
    for mjd in (41684.0, 51544.0, 60000.0, table.mjd[-1]):
        line = rows[mjd]
        i = int(np.searchsorted(table.mjd, mjd))
        has_b = bool(line[154:165].strip())
        ut1 = float(line[154:165] if has_b else line[58:68])
        xp = float(line[134:144] if has_b else line[18:27])
        dut1 = earth_orientation(Time(mjd, format="mjd"))["dut1"][0]
        assert dut1 == pytest.approx(ut1, abs=1e-12)
        assert table.xp[i] == pytest.approx(xp * ARCSEC, rel=1e-15)
    assert table.mjd[-1] == float(
        [line for line in lines if line[58:68].strip()][-1][7:15]
    )  # the rows past the predictions hold no values and are left out


def test_load_c04_series(tmp_path):
    frames.load_earth_orientation(astropy_iers_data.IERS_B_FILE)  # EOP 20 C04
    table = eop.active_table()
    assert "EOP 20 C04" in table.source
    text = Path(astropy_iers_data.IERS_B_FILE).read_text()
    data = [ln for ln in text.splitlines() if ln[:1].isdigit()]
    for line in (data[0], data[len(data) // 2], data[-1]):
        mjd, x, y, ut1, lod = fortran_fields(
            line, [(17, 26), (27, 38), (39, 50), (51, 62), (111, 122)]
        )
        i = int(np.searchsorted(table.mjd, mjd))
        assert (table.xp[i], table.yp[i], table.lod[i]) == pytest.approx(
            (x * ARCSEC, y * ARCSEC, lod), rel=1e-15
        )
        dut1 = earth_orientation(Time(mjd, format="mjd"))["dut1"][0]
        assert dut1 == pytest.approx(ut1, abs=1e-12)
    # the 14 C04 layout, in its published Fortran format
    fmt = "{:4d}{:4d}{:4d}{:7d}{:11.6f}{:11.6f}{:12.7f}{:12.7f}{:11.6f}{:11.6f}" + "{:11.6f}" * 6
    rows = [
        (2010, 1, d, 55196 + d, 0.03 + d / 1e3, 0.2, -0.1 + d / 1e4, 1e-3, 0, 0, *[1e-4] * 6)
        for d in range(1, 4)
    ]
    text = " FORMAT(3(I4),I7,2(F11.6),2(F12.7),2(F11.6),2(F11.6),2(F11.7),2F12.6)\n\n"
    text += "      Date      MJD      x          y        UT1-UTC       LOD ...\n"
    path = tmp_path / "eopc04_14.txt"
    path.write_text(text + "\n".join(fmt.format(*row) for row in rows) + "\n")
    frames.load_earth_orientation(path)
    table = eop.active_table()
    assert "EOP 14 C04" in table.source
    np.testing.assert_array_equal(table.mjd, [55197.0, 55198.0, 55199.0])
    np.testing.assert_allclose(table.xp / ARCSEC, [0.031, 0.032, 0.033], rtol=1e-15)
    np.testing.assert_array_equal(table.lod, 1e-3)


def test_fixed_width_reader_equals_float_of_the_text():
    raw = Path(astropy_iers_data.IERS_A_FILE).read_bytes()
    lines = raw.splitlines()
    block = eop._block(lines)
    for a, b in eop._FINALS_FIELDS.values():
        values, bad = eop._decimal_columns(np.ascontiguousarray(block[:, a - 1 : b]))
        ref = [float(ln[a - 1 : b]) if ln[a - 1 : b].strip() else np.nan for ln in lines]
        assert not bad.any()
        np.testing.assert_array_equal(values, ref)


def finals_lines(n=6):
    return Path(astropy_iers_data.IERS_A_FILE).read_text().splitlines()[1000 : 1000 + n]


def corrupt(lines, row, col, text):
    line = lines[row]
    lines[row] = line[: col - 1] + text + line[col - 1 + len(text) :]
    return lines


@pytest.mark.parametrize(
    "make, match",
    [
        (lambda: corrupt(finals_lines(), 3, 61, "x"), "line 4: cannot read UT1-UTC"),
        (lambda: corrupt(finals_lines(), 2, 20, "1.2.3"), "line 3: cannot read PM-x"),
        (lambda: corrupt(finals_lines(), 4, 8, "40000.00"), "line 5: MJD 40000 does not"),
        (lambda: corrupt(finals_lines(), 1, 38, " " * 9), "line 2: PM-y .* is blank"),
        (lambda: finals_lines(1), "fewer than two rows"),
        (lambda: ["# nothing here", "hello"], "not an IERS finals file"),
        (lambda: [], "not an IERS finals file"),
        (lambda: ["2010   1   1  55197   0.1   0.2"] * 2, "6 fields"),
    ],
    ids=["letter", "two-points", "mjd-back", "blank-pole", "one-row", "text", "empty", "c04"],
)
def test_malformed_files_name_the_line(tmp_path, make, match):
    path = tmp_path / "eop.txt"
    path.write_text("\n".join(make()) + "\n")
    before = eop.active_table()
    with pytest.raises(ValueError, match=match):
        frames.load_earth_orientation(path)
    assert eop.active_table() is before  # the source is unchanged


# -- one evaluation per distinct epoch ---------------------------------------------------------


@pytest.mark.parametrize(
    "source, target",
    [(GCRF, ITRF), (ITRF, TEME), (TEME, GCRF)],
    ids=["GCRF-ITRF", "ITRF-TEME", "TEME-GCRF"],
)
def test_repeated_epochs_in_any_order_match_each_epoch_alone(source, target):
    distinct = Time(["2024-03-01T00:00:00", "2019-07-14T06:30:00", "2024-03-01T00:00:01"])
    pick = np.random.default_rng(4).integers(0, 3, 40)
    t = Time(distinct.jd1[pick], distinct.jd2[pick], format="jd")
    r, v = states(40, RADII["GPS"], seed=5)
    r_all, v_all = source.transform_to(target, t, r, v)
    for k in range(3):
        rows = pick == k
        r_one, v_one = source.transform_to(target, distinct[k], r[rows], v[rows])
        np.testing.assert_array_equal(r_all[rows], r_one)
        np.testing.assert_array_equal(v_all[rows], v_one)
    # nudged apart by up to 2e-10 s, every row is its own epoch and takes the per-row path
    t_rows = Time(t.jd1, t.jd2 + np.arange(40) * 5.6e-17, format="jd")
    r_rows, v_rows = source.transform_to(target, t_rows, r, v)
    np.testing.assert_allclose(r_rows, r_all, rtol=0, atol=1e-6)
    np.testing.assert_allclose(v_rows, v_all, rtol=0, atol=1e-9)


def test_distinct_epochs_helper():
    jd1 = np.array([5.0, 5.0, 6.0, 5.0, 6.0, 7.0])
    jd2 = np.array([0.1, 0.1, 0.0, 0.1, 0.0, -0.2])
    d1, d2, index = frames._distinct(jd1, jd2)
    np.testing.assert_array_equal(d1[index], jd1)
    np.testing.assert_array_equal(d2[index], jd2)
    assert d1.size == 3
    assert frames._distinct(jd1[:2], jd2[:2])[2] is None  # one epoch
    assert frames._distinct(np.arange(4.0), np.zeros(4))[2] is None  # all distinct, in order


def test_tai_from_one_evaluation_per_day_is_erfas():
    erfa = pytest.importorskip("erfa")
    rng = np.random.default_rng(8)
    spans = [(1962.0, 1972.0), (1972.0, 2030.0), (2016.999, 2017.001)]
    for lo, hi in spans:
        jd = 2451545.0 + np.sort(rng.uniform(lo - 2000, hi - 2000, 5000)) * 365.25
        t = Time(jd, format="jd")
        a1, a2 = frames._utc_to_tai(t.jd1, t.jd2)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", erfa.ErfaWarning)
            b1, b2 = erfa.utctai(t.jd1, t.jd2)
        assert np.max(np.abs((a1 - b1) + (a2 - b2))) * 86400 < 1e-10  # seconds


def test_without_the_data_package_orientation_is_zero_with_a_warning(python_subprocess):
    out = python_subprocess(
        """
        import sys, warnings
        sys.modules["astropy_iers_data"] = None  # as if it were not installed
        from orbalis.frames.frames import earth_orientation
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            values = earth_orientation("2024-03-01")
        print(len(caught), caught[0].category.__name__, values["dut1"][0], values["xp"][0])
        """
    ).stdout.split()
    assert out == ["1", "EarthOrientationWarning", "0.0", "0.0"]
