"""Tests of orbalis.frames.frames: frame objects, and GCRF/ITRF/TEME transformations checked by
round trips, hand computations and astropy/skyfield with the same Earth orientation values."""

import copy
import itertools
import pickle
import socket

import numpy as np
import pytest

from orbalis.frames import frames
from orbalis.frames.frames import GCRF, ITRF, OMEGA_EARTH, TEME, Frame, earth_orientation
from orbalis.time.time import Time

ARCSEC = np.pi / 648000.0
FRAMES = (GCRF, ITRF, TEME)
EOP = {"dut1": -0.35, "xp": 0.12 * ARCSEC, "yp": 0.4 * ARCSEC, "lod": 1.5e-3}
T2024, T2 = Time("2024"), Time(["2024", "2025"])
GO = GCRF.transform_to


def leo_states(n, seed=0):
    """n states near a 400-800 km orbit: positions (m) and velocities (m/s) in random directions."""
    rng = np.random.default_rng(seed)
    u = rng.normal(size=(n, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    radius = 6.371e6 + rng.uniform(4e5, 8e5, n)
    w = np.cross(u, rng.normal(size=(n, 3)))
    w /= np.linalg.norm(w, axis=1)[:, None]
    return u * radius[:, None], w * np.sqrt(3.986004418e14 / radius)[:, None]


def epochs(n, span_days=1.0):
    return Time(Time("2024-03-01T00:00:00").jd1 + np.linspace(0.0, span_days, n), format="jd")


@pytest.fixture(autouse=True)
def no_table():
    # these tests compare models with the same, explicit Earth orientation: zero unless given
    frames.set_earth_orientation(None)
    yield
    frames.clear_earth_orientation()


# -- frame objects ----------------------------------------------------------------------------


@pytest.mark.parametrize("name", ["GCRF", "ITRF", "TEME"])
def test_single_objects_by_name_class_and_pickle(name):
    obj, cls = getattr(frames, name), getattr(frames, "_" + name)  # GCRF is the one _GCRF
    assert Frame[name] is obj and Frame[obj] is obj and cls() is obj and type(obj) is cls
    assert isinstance(obj, Frame) and Frame.is_frame(name)
    assert obj.name == name and str(obj) == name
    assert repr(obj) == f"Frame[{name!r}]" and eval(repr(obj), {"Frame": Frame}) is obj
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(obj, protocol)) is obj
    assert copy.copy(obj) is obj and copy.deepcopy([obj])[0] is obj


@pytest.mark.parametrize("bad", ["gcrf", "ICRF", "", None, 3, ("GCRF",), ["GCRF"]])
def test_unknown_names(bad):
    with pytest.raises(KeyError, match="known frames: 'GCRF', 'ITRF', 'TEME'"):
        Frame[bad]
    assert not Frame.is_frame(bad)


def test_frame_class_itself_and_immutability():
    assert Frame.names() == ("GCRF", "ITRF", "TEME")
    with pytest.raises(TypeError):
        Frame()
    with pytest.raises(AttributeError):
        GCRF.extra = 1
    assert not hasattr(GCRF, "__dict__") and not hasattr(GCRF, "__weakref__")


# -- argument handling --------------------------------------------------------------------------


def test_outputs_are_new_writable_arrays_of_the_input_shape_and_inputs_are_untouched():
    r, v = leo_states(8)
    wide = np.zeros((8, 6))
    wide[:, ::2] = r  # non-contiguous views, as a state vector may hold
    r_view, v_view = wide[:, ::2], np.asfortranarray(v)
    for target in FRAMES:  # the same frame included
        for out in GO(target, epochs(8), r_view, v_view):
            assert out.dtype == np.float64 and out.shape == (8, 3) and out.flags.writeable
            assert not np.shares_memory(out, wide) and not np.shares_memory(out, v_view)
    np.testing.assert_array_equal(r_view, r)
    np.testing.assert_array_equal(v_view, v)
    r2, v2 = ITRF.transform_to("ITRF", T2024, r, v)
    np.testing.assert_array_equal(r2, r)
    assert not np.shares_memory(r2, r) and not np.shares_memory(v2, v)
    r1, v1 = GO(TEME, T2024, r[0], v[0])  # one vector in, one vector out
    assert r1.shape == (3,) and v1.shape == (3,)
    np.testing.assert_array_equal(r1, GO(TEME, T2024, r, v)[0][0])
    empty = GO(ITRF, T2024, np.empty((0, 3)), np.empty((0, 3)))
    assert [a.shape for a in empty] == [(0, 3), (0, 3)]


def test_single_epoch_applies_to_every_row_and_rows_follow_their_epochs():
    r, v = leo_states(50)
    t = epochs(50)
    r_all, v_all = GO(ITRF, t, r, v)
    for i in (0, 17, 49):
        r1, v1 = GO(ITRF, t[i], r[i : i + 1], v[i : i + 1])
        np.testing.assert_allclose(r1[0], r_all[i], rtol=0, atol=1e-8)
        np.testing.assert_allclose(v1[0], v_all[i], rtol=0, atol=1e-11)
    r_one, _ = TEME.transform_to(ITRF, t[5], r, v)
    r_rep, _ = TEME.transform_to(ITRF, Time(np.full(50, t[5].jd), format="jd"), r, v)
    np.testing.assert_array_equal(r_one, r_rep)


def test_epochs_in_any_scale_shape_or_as_strings_give_the_same_rotation():
    r, v = leo_states(4)
    utc = Time(["2024-03-01T06:00:00", "2016-12-31T23:59:60.5", "1999-06-01", "2030-01-01"])
    ref = GO(ITRF, utc, r, v, dut1=0.1)
    for t in (utc.tt, utc.tai):
        np.testing.assert_allclose(GO(ITRF, t, r, v, dut1=0.1)[0], ref[0], rtol=0, atol=1e-6)
    # a (2, 2) array of epochs is read row by row in C order
    grid = Time._from_parts(utc.jd1.reshape(2, 2), utc.jd2.reshape(2, 2), "utc")
    np.testing.assert_array_equal(GO(ITRF, grid, r, v, dut1=0.1)[0], ref[0])
    # anything Time reads
    as_string = GO(ITRF, "2024-03-01T06:00:00", r, v)[0]
    np.testing.assert_array_equal(as_string, GO(ITRF, utc[0], r, v)[0])


@pytest.mark.parametrize(
    "call, exc, match",
    [
        (lambda r, v: GO("XYZ", T2024, r, v), KeyError, "known frames"),
        (lambda r, v: GO(ITRF, T2024, r[:, :2], v[:, :2]), ValueError, r"shape \(N, 3\)"),
        (lambda r, v: GO(ITRF, T2024, r, v[:2]), ValueError, "same shape"),
        (lambda r, v: GO(ITRF, T2, r, v), ValueError, "2 epochs but r and v have 4 rows"),
        (lambda r, v: GO(ITRF, T2024, r, v, xp=[0.0, 0.0]), ValueError, "xp must be a scalar"),
        (lambda r, v: GO(ITRF, T2024, r, v, dut1=np.nan), ValueError, "finite"),
        (lambda r, v: GO(ITRF, 2460310.5, r, v), TypeError, "format"),
        (lambda r, v: GO(ITRF, T2024, r, "abc"), ValueError, "could not convert"),
        (lambda r, v: GO(ITRF, T2024, r, v, T2024), TypeError, "positional"),
    ],
)
def test_argument_errors(call, exc, match):
    r, v = leo_states(4)
    with pytest.raises(exc, match=match):
        call(r, v)


# -- mathematics --------------------------------------------------------------------------------


@pytest.mark.parametrize("source, target", list(itertools.permutations(FRAMES, 2)))
@pytest.mark.parametrize("eop", [{}, EOP])
def test_round_trips(source, target, eop):
    r, v = leo_states(500)
    t = epochs(500, span_days=3.0)  # enough epochs for the interpolated celestial pole
    r2, v2 = source.transform_to(target, t, r, v, **eop)
    r3, v3 = target.transform_to(source, t, r2, v2, **eop)
    assert np.max(np.abs(r3 - r)) < 1e-8 and np.max(np.abs(v3 - v)) < 1e-11
    # rotations keep lengths; velocities keep them only between inertial frames
    np.testing.assert_allclose(np.linalg.norm(r2, axis=1), np.linalg.norm(r, axis=1), rtol=1e-14)
    if not (source.earth_fixed or target.earth_fixed):
        speeds = np.linalg.norm(v2, axis=1), np.linalg.norm(v, axis=1)
        np.testing.assert_allclose(*speeds, rtol=1e-14)


def test_teme_gcrf_direct_equals_path_through_itrf():
    r, v = leo_states(20)
    t = epochs(20)
    direct = TEME.transform_to(GCRF, t, r, v)
    via = ITRF.transform_to(GCRF, t, *TEME.transform_to(ITRF, t, r, v))
    np.testing.assert_allclose(direct[0], via[0], rtol=0, atol=1e-8)
    np.testing.assert_allclose(direct[1], via[1], rtol=0, atol=1e-11)


def test_interpolated_pole_matches_the_series():
    # many epochs take the gridded X, Y, s path; one at a time the full series
    r, v = leo_states(400, seed=3)
    r = r * 6.6  # geostationary distance magnifies any angular error
    t = epochs(400, span_days=2.0)
    r_batch, v_batch = GO(ITRF, t, r, v)
    for i in range(0, 400, 23):
        r_one, v_one = GO(ITRF, t[i], r[i : i + 1], v[i : i + 1])
        np.testing.assert_allclose(r_one[0], r_batch[i], rtol=0, atol=1e-6)
        np.testing.assert_allclose(v_one[0], v_batch[i], rtol=0, atol=1e-9)


def test_earth_fixed_point_moves_with_earth_rotation_in_inertial_frames():
    r, v = np.array([[42164.0e3, 0.0, 0.0], [0.0, 0.0, 6356.0e3]]), np.zeros((2, 3))
    for frame in (GCRF, TEME):
        r_i, v_i = ITRF.transform_to(frame, Time("2024-06-01"), r, v)
        np.testing.assert_allclose(np.linalg.norm(v_i[0]), OMEGA_EARTH * 42164.0e3, rtol=1e-12)
        assert abs(np.dot(v_i[0], r_i[0])) < 1e-6 * 42164.0e3  # perpendicular to the radius
        assert np.linalg.norm(v_i[1]) < 1e-9 * 6356e3  # the pole hardly moves
    # a longer day slows the rotation
    _, v_lod = ITRF.transform_to(GCRF, Time("2024-06-01"), r, v, lod=2e-3)
    slower = OMEGA_EARTH * (1 - 2e-3 / 86400) * 42164.0e3
    np.testing.assert_allclose(np.linalg.norm(v_lod[0]), slower, rtol=1e-12)


def test_earth_rotation_angle_by_hand_and_dut1_as_a_rotation_delay():
    # with UT1 = UTC and no polar motion the GCRF x axis seen in ITRF turns by the Earth
    # rotation angle (plus the small precession-nutation offset), i.e. 360.9856 deg per day
    r, v = np.array([[7e6, 0.0, 0.0]]), np.zeros((1, 3))

    def angle(iso):
        return np.arctan2(*GO(ITRF, Time(iso), r, v)[0][0, 1::-1])

    turned = (angle("2024-03-01T00:00:00") - angle("2024-03-01T06:00:00")) % (2 * np.pi)
    era = 0.25 * 2 * np.pi * 1.00273781191135448 % (2 * np.pi)
    assert turned == pytest.approx(era, abs=2e-7)  # precession over 6 h: ~1e-7 rad
    r, v = leo_states(3)
    late = GO(ITRF, Time("2024-03-01T00:00:00"), r, v, dut1=0.5)
    shifted = GO(ITRF, Time("2024-03-01T00:00:00.5"), r, v)
    # the same rotation, apart from 0.5 s of precession-nutation
    np.testing.assert_allclose(late[0], shifted[0], rtol=0, atol=2e-4)


# -- Earth orientation table ---------------------------------------------------------------------


def test_table_values_are_used_and_keywords_win():
    r, v = leo_states(4)
    t = Time(["2024-03-01T00:00:00", "2024-03-01T12:00:00", "2024-03-02", "2024-03-02T18:00"])
    xp, yp, lod = [1e-6, 2e-6, 4e-6], [3e-6] * 3, [1e-3, 2e-3, 3e-3]
    frames.set_earth_orientation([60370.0, 60371.0, 60372.0], [0.1, 0.2, 0.4], xp, yp, lod=lod)
    vals = earth_orientation(t)
    np.testing.assert_allclose(vals["dut1"], [0.1, 0.15, 0.2, 0.35], atol=1e-12)
    np.testing.assert_allclose(vals["xp"], [1e-6, 1.5e-6, 2e-6, 3.5e-6], atol=1e-18)
    from_table, explicit = GO(ITRF, t, r, v), GO(ITRF, t, r, v, **vals)
    np.testing.assert_array_equal(from_table[0], explicit[0])
    np.testing.assert_array_equal(from_table[1], explicit[1])
    zero = GO(ITRF, t, r, v, dut1=0.0, xp=0.0, yp=0.0, lod=0.0)
    frames.set_earth_orientation(None)
    np.testing.assert_array_equal(GO(ITRF, t, r, v)[0], zero[0])


def test_table_interpolates_across_a_leap_second():
    # UT1 - UTC jumps by +1 s at the 2016-12-31 leap second; UT1 itself runs smoothly
    frames.set_earth_orientation([57753.0, 57754.0], [-0.4, 0.6], 0.0, 0.0)
    vals = earth_orientation(Time(["2016-12-31T12:00:00", "2017-01-01T00:00:00"]))
    np.testing.assert_allclose(vals["dut1"], [-0.4, 0.6], atol=1e-6)


def test_table_errors():
    with pytest.raises(ValueError, match="increasing"):
        frames.set_earth_orientation([2.0, 1.0], 0.0, 0.0, 0.0)
    with pytest.raises(ValueError, match="at least 2"):
        frames.set_earth_orientation([1.0], 0.0, 0.0, 0.0)
    with pytest.raises(ValueError, match="finite"):
        frames.set_earth_orientation([1.0, 2.0], [0.0, np.nan], 0.0, 0.0)
    frames.set_earth_orientation([60370.0, 60371.0], 0.0, 0.0, 0.0)
    r, v = leo_states(1)
    with pytest.warns(frames.EarthOrientationWarning, match="outside the Earth orientation"):
        GO(ITRF, Time("2025"), r, v)  # the nearest row is held
    GO(ITRF, Time("2025"), r, v, dut1=0.0, xp=0.0, yp=0.0, lod=0.0)  # keywords need no table


# -- independent implementations -----------------------------------------------------------------


def refuse_network(*args, **kwargs):
    raise OSError("network disabled")


@pytest.mark.parametrize(
    "source, target", [(GCRF, ITRF), (ITRF, GCRF), (TEME, ITRF), (ITRF, TEME), (TEME, GCRF)]
)
@pytest.mark.parametrize("eop", [{}, {k: EOP[k] for k in ("dut1", "xp", "yp")}])
def test_against_astropy(source, target, eop, monkeypatch):
    coords = pytest.importorskip("astropy.coordinates")
    iers = pytest.importorskip("astropy.utils.iers")
    u = pytest.importorskip("astropy.units")
    from astropy.table import QTable
    from astropy.time import Time as ATime

    # the same constant Earth orientation values, and no network: a download attempt fails
    monkeypatch.setattr(socket.socket, "connect", refuse_network)
    monkeypatch.setattr(socket, "create_connection", refuse_network)
    mjd = np.arange(40000.0, 70000.0)
    dut1, xp, yp = (eop.get(k, 0.0) * np.ones(mjd.size) for k in ("dut1", "xp", "yp"))
    pole = {"PM_x": xp / ARCSEC * u.arcsec, "PM_y": yp / ARCSEC * u.arcsec}
    table = iers.IERS(QTable({"MJD": mjd * u.d, "UT1_UTC": dut1 * u.s, **pole}))
    r, v = leo_states(6, seed=11)
    iso = (
        "2024-03-01T00:00:00 2019-07-14T06:30:00 2016-12-31T23:59:59.5 "
        "2024-11-30T18:00:00.25 1995-01-01T00:00:00 2026-02-01T12:00:00"
    ).split()
    t = ATime(iso, scale="utc")
    cls = {"GCRF": coords.GCRS, "ITRF": coords.ITRS, "TEME": coords.TEME}
    rep = coords.CartesianRepresentation(
        r.T * u.m, differentials=coords.CartesianDifferential(v.T * u.m / u.s)
    )
    with iers.conf.set_temp("auto_download", False), iers.earth_orientation_table.set(table):
        out = cls[source.name](rep, obstime=t).transform_to(cls[target.name](obstime=t))
    r_us, v_us = source.transform_to(target, Time(iso), r, v, **eop)
    assert np.max(np.abs(r_us - out.cartesian.xyz.to_value(u.m).T)) < 1e-3  # requirement: 1 mm
    # astropy differentiates the whole rotation numerically, precession included
    assert np.max(np.abs(v_us - out.velocity.d_xyz.to_value(u.m / u.s).T)) < 1e-4


def test_against_skyfield_teme_to_itrf():
    sgp4lib = pytest.importorskip("skyfield.sgp4lib")
    r, v = leo_states(5, seed=2)
    t = Time(
        "2024-03-01T00:00:00 2021-01-01T12:00:00 2010-06-01 2030-01-01 2000-01-01T12:00:00".split()
    )
    xp, yp = 0.2 * ARCSEC, 0.3 * ARCSEC
    r_us, v_us = TEME.transform_to(ITRF, t, r, v, xp=xp, yp=yp)
    for i in range(5):
        # skyfield takes kilometres and km/day and its pole coordinates in radians
        r_ref, v_ref = sgp4lib.TEME_to_ITRF(
            t.jd1[i], r[i] / 1e3, v[i] / 1e3 * 86400, xp, yp, fraction_ut1=t.jd2[i]
        )
        np.testing.assert_allclose(r_us[i], r_ref * 1e3, rtol=0, atol=1e-3)
        # skyfield turns at the rate of GMST 1982 (7.2921158553e-5 rad/s), not the ERA rate
        np.testing.assert_allclose(v_us[i], v_ref * 1e3 / 86400, rtol=0, atol=1e-4)
