"""orbalis.geodesy against pymap3d: the same calls give the same results, plus the array
behaviour that comes from the ufuncs (broadcasting, casting, out=, pandas and xarray), the
ellipsoid argument, pickling and bad input."""

import math
import pickle
from types import SimpleNamespace

import numpy as np
import pymap3d
import pymap3d.los
import pytest

import orbalis.geodesy as og
from orbalis.geodesy import _ufuncs
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

RNG = np.random.default_rng(20261208)
N = 2000
LAT0, LON0, H0 = 42.3, -71.1, 120.0


def _targets():
    """Geodetic targets 1 km to 3000 km away from the observer, in every direction."""
    lat = LAT0 + RNG.uniform(-20, 20, N)
    lon = LON0 + RNG.uniform(-20, 20, N)
    h = RNG.uniform(-500, 4e5, N)
    return lat, lon, h


def _angle_diff(a, b):
    """Difference of angles in degrees, modulo 360."""
    return np.abs((np.asarray(a) - np.asarray(b) + 180.0) % 360.0 - 180.0)


LAT, LON, H = _targets()
X, Y, Z = pymap3d.geodetic2ecef(LAT, LON, H)
E, NN, U = pymap3d.geodetic2enu(LAT, LON, H, LAT0, LON0, H0)
AZ, EL, SR = pymap3d.enu2aer(E, NN, U)

# (name, arguments, kinds of the outputs: "m" metres, "deg" angle, "az" azimuth)
CASES = [
    ("geodetic2ecef", (LAT, LON, H), "mmm"),
    ("ecef2geodetic", (X, Y, Z), ("deg", "deg", "m")),
    ("ecef2enu", (X, Y, Z, LAT0, LON0, H0), "mmm"),
    ("enu2ecef", (E, NN, U, LAT0, LON0, H0), "mmm"),
    ("geodetic2enu", (LAT, LON, H, LAT0, LON0, H0), "mmm"),
    ("enu2geodetic", (E, NN, U, LAT0, LON0, H0), ("deg", "deg", "m")),
    ("ecef2ned", (X, Y, Z, LAT0, LON0, H0), "mmm"),
    ("ned2ecef", (NN, E, -U, LAT0, LON0, H0), "mmm"),
    ("geodetic2ned", (LAT, LON, H, LAT0, LON0, H0), "mmm"),
    ("ned2geodetic", (NN, E, -U, LAT0, LON0, H0), ("deg", "deg", "m")),
    ("ecef2aer", (X, Y, Z, LAT0, LON0, H0), ("az", "deg", "m")),
    ("aer2ecef", (AZ, EL, SR, LAT0, LON0, H0), "mmm"),
    ("geodetic2aer", (LAT, LON, H, LAT0, LON0, H0), ("az", "deg", "m")),
    ("aer2geodetic", (AZ, EL, SR, LAT0, LON0, H0), ("deg", "deg", "m")),
    ("enu2aer", (E, NN, U), ("az", "deg", "m")),
    ("aer2enu", (AZ, EL, SR), "mmm"),
    ("ned2aer", (NN, E, -U), ("az", "deg", "m")),
    ("aer2ned", (AZ, EL, SR), "mmm"),
    ("ecef2enuv", (X - 1e6, Y, Z, LAT0, LON0), "mmm"),
    ("enu2ecefv", (E, NN, U, LAT0, LON0), "mmm"),
]


# pymap3d's ecef2geodetic is good to about 3e-9 degrees and 1e-8 m here (ours to 1e-14
# degrees, see test_geodesy_accuracy.py), so outputs that pass through it are compared with the
# geodetic coordinates the targets were made from instead.
TRUTH = {"ecef2geodetic", "enu2geodetic", "ned2geodetic", "aer2geodetic"}
# Functions through ECEF carry the rounding of coordinates of 6e6 m: 3 spacings there.
ECEF_TOL = 3 * np.spacing(7e6)


def _metre_tol(name, ref):
    if name in ("enu2aer", "aer2enu", "ned2aer", "aer2ned", "ecef2enuv", "enu2ecefv"):
        return np.maximum(1e-9, 4 * np.spacing(np.abs(ref)))
    return np.maximum(ECEF_TOL, 4 * np.spacing(np.abs(ref)))


def _check_close(name, ours, theirs, kinds, angle_tol, to_unit=1.0):
    assert len(ours) == len(theirs) == 3
    for got, ref, kind in zip(ours, theirs, kinds, strict=True):
        got, ref = np.asarray(got), np.asarray(ref)
        assert got.shape == ref.shape and got.dtype == np.float64
        if kind == "m":
            tol = 1e-8 if name in TRUTH else _metre_tol(name, ref)
            assert np.all(np.abs(got - ref) <= tol), np.max(np.abs(got - ref))
        elif kind == "deg":
            assert np.max(np.abs(got - ref)) <= angle_tol
        else:
            full = 360.0 * to_unit
            assert np.all((got >= 0) & (got < full))
            diff = np.abs((got - ref + full / 2) % full - full / 2)
            assert np.max(diff) <= angle_tol


def _reference(name, args, deg=True):
    if name in TRUTH:
        k = 1.0 if deg else math.pi / 180
        return LAT * k, LON * k, H
    return getattr(pymap3d, name)(*args, deg=deg)


@pytest.mark.parametrize(("name", "args", "kinds"), CASES, ids=[c[0] for c in CASES])
def test_agrees_with_pymap3d(name, args, kinds):
    ours = getattr(og, name)(*args)
    _check_close(name, ours, _reference(name, args), kinds, 1e-12)


@pytest.mark.parametrize(("name", "args", "kinds"), CASES, ids=[c[0] for c in CASES])
def test_radians_agree_with_pymap3d(name, args, kinds):
    # Only the angles change unit; everything else is the same call with deg=False.
    rad_args = _to_radians(name, args)
    ours = getattr(og, name)(*rad_args, deg=False)
    ref = _reference(name, rad_args, deg=False)
    _check_close(name, ours, ref, kinds, 2e-14, to_unit=math.pi / 180)


ANGLE_ARGS = {
    "geodetic2ecef": (0, 1),
    "ecef2geodetic": (),
    "ecef2enuv": (3, 4),
    "enu2ecefv": (3, 4),
    "enu2aer": (),
    "ned2aer": (),
    "aer2enu": (0, 1),
    "aer2ned": (0, 1),
}


def _to_radians(name, args):
    if name in ANGLE_ARGS:
        idx = ANGLE_ARGS[name]
    elif name.startswith("aer2"):
        idx = (0, 1, 3, 4)
    elif name.startswith("geodetic2"):
        idx = (0, 1, 3, 4)
    else:
        idx = (3, 4)
    return tuple(np.radians(a) if i in idx else a for i, a in enumerate(args))


def test_look_at_spheroid_agrees_with_pymap3d():
    az = RNG.uniform(0, 360, N)
    tilt = RNG.uniform(0, 80, N)
    h0 = RNG.uniform(0, 2e6, N)
    ours = og.lookAtSpheroid(LAT0, LON0, h0, az, tilt)
    theirs = pymap3d.los.lookAtSpheroid(LAT0, LON0, h0, az, tilt)
    assert np.array_equal(np.isnan(ours[2]), np.isnan(theirs[2]))
    hit = ~np.isnan(theirs[2])
    assert hit.sum() > N // 2
    assert np.max(np.abs(ours[0][hit] - theirs[0][hit])) <= 1e-12
    assert np.max(_angle_diff(ours[1][hit], theirs[1][hit])) <= 1e-12
    assert np.max(np.abs(ours[2][hit] - theirs[2][hit])) <= 1e-6  # pymap3d: 1e-9 relative


@pytest.mark.parametrize(
    ("h0", "tilt", "expect"),
    [
        (1000.0, 0.0, 1000.0),  # straight down
        (1000.0, 90.0, math.nan),  # horizontal from above: passes over the surface
        (1000.0, 180.0, math.nan),  # straight up: the half-line leaves the ellipsoid
        (-1000.0, 180.0, 1000.0),  # from inside, looking up: the exit point
    ],
    ids=["nadir", "horizon", "zenith", "inside-up"],
)
def test_look_at_spheroid_half_line(h0, tilt, expect):
    lat, lon, d = og.lookAtSpheroid(0.0, 0.0, h0, 0.0, tilt)
    if math.isnan(expect):
        assert math.isnan(d) and math.isnan(lat) and math.isnan(lon)
    else:
        assert d == pytest.approx(expect, abs=1e-6)
        assert abs(lat) < 1e-9 and abs(lon) < 1e-9


# --- array behaviour -------------------------------------------------------------------------


def test_scalars_give_numpy_floats():
    out = og.geodetic2ecef(45, 10, 100)
    assert all(type(v) is np.float64 for v in out)
    out = og.ecef2aer(6378137.0, 1000, 0, 0, 0, 0)
    assert all(type(v) is np.float64 for v in out)


def test_broadcasting_lists_and_observers():
    # Three targets against two observers at once: shapes (3,) and (2, 1) give (2, 3).
    lat0 = np.array([[10.0], [20.0]])
    az, el, sr = og.geodetic2aer([10.1, 10.2, 10.3], 5.0, 100.0, lat0, 5.0, 0.0)
    assert az.shape == el.shape == sr.shape == (2, 3)
    ref = pymap3d.geodetic2aer(np.array([10.1, 10.2, 10.3]), 5.0, 100.0, 20.0, 5.0, 0.0)
    assert np.allclose(sr[1], ref[2], rtol=0, atol=1e-9)


def test_integer_and_float32_inputs_are_cast_to_float64():
    ints = og.geodetic2ecef(np.array([45, 46]), np.array([10, 11]), np.array([100, 0]))
    floats = og.geodetic2ecef(np.array([45.0, 46.0]), np.array([10.0, 11.0]), [100.0, 0.0])
    for a, b in zip(ints, floats, strict=True):
        assert a.dtype == np.float64 and np.array_equal(a, b)
    f32 = og.ecef2geodetic(np.float32([6378137.0]), np.float32([0.0]), np.float32([0.0]))
    assert all(v.dtype == np.float64 for v in f32)


def test_out_argument_of_the_ufuncs():
    x = np.empty(N)
    y = np.empty(N)
    z = np.empty(N)
    a, b = og.WGS84.Re, og.WGS84.Rp
    res = _ufuncs.geodetic2ecef(np.radians(LAT), np.radians(LON), H, a, b, out=(x, y, z))
    assert res[0] is x and res[2] is z
    assert np.array_equal(x, og.geodetic2ecef(LAT, LON, H)[0])


def test_non_contiguous_and_multidimensional_inputs():
    grid = X.reshape(40, 50)[:, ::2]
    res = og.ecef2geodetic(grid, Y.reshape(40, 50)[:, ::2], Z.reshape(40, 50)[:, ::2])
    flat = og.ecef2geodetic(X, Y, Z)
    assert res[0].shape == (40, 25)
    assert np.array_equal(res[0], flat[0].reshape(40, 50)[:, ::2])


def test_pandas_series_in_series_out():
    pd = pytest.importorskip("pandas")
    idx = pd.RangeIndex(5, 5 + 10)
    s = pd.Series(LAT[:10], index=idx), pd.Series(LON[:10], index=idx), pd.Series(H[:10], index=idx)
    x, y, z = og.geodetic2ecef(*s)
    assert isinstance(x, pd.Series) and x.index.equals(idx)
    assert np.array_equal(x.to_numpy(), og.geodetic2ecef(LAT[:10], LON[:10], H[:10])[0])


def test_xarray_dataarray_keeps_coordinates():
    xr = pytest.importorskip("xarray")
    da = xr.DataArray(LAT[:12].reshape(3, 4), dims=("t", "s"), coords={"t": [1, 2, 3]})
    x, y, z = og.geodetic2ecef(da, 10.0, 0.0)
    assert isinstance(x, xr.DataArray) and x.dims == ("t", "s")
    assert list(x.coords["t"].values) == [1, 2, 3]
    assert np.array_equal(x.values, og.geodetic2ecef(LAT[:12].reshape(3, 4), 10.0, 0.0)[0])


def test_empty_input():
    res = og.ecef2geodetic(np.empty(0), np.empty(0), np.empty(0))
    assert all(r.shape == (0,) for r in res)


def test_results_do_not_depend_on_block_position():
    # The same point at every offset of a block (and alone) gives the same bits.
    pt = np.array([X[7], Y[7], Z[7]])
    alone = og.ecef2geodetic(*pt)
    for n in (1, 5, 16, 17, 33):
        xs = np.full(n, pt[0])
        xs[: n // 2] = X[: n // 2]
        lat, lon, h = og.ecef2geodetic(xs, np.full(n, pt[1]), np.full(n, pt[2]))
        assert lat[-1] == alone[0] and h[-1] == alone[2]


# --- ellipsoid argument ----------------------------------------------------------------------


@pytest.mark.parametrize(
    "ell",
    [
        None,
        "wgs84",
        "WGS84",
        og.WGS84,
        Ellipsoid(6378137.0, 1 / 298.257223563),
        pymap3d.Ellipsoid.from_name("wgs84"),
    ],
    ids=["none", "name", "name-upper", "constant", "orbalis", "pymap3d"],
)
def test_ellipsoid_forms_agree(ell):
    ref = og.geodetic2ecef(LAT[:50], LON[:50], H[:50])
    got = og.geodetic2ecef(LAT[:50], LON[:50], H[:50], ell=ell)
    for a, b in zip(got, ref, strict=True):
        assert np.allclose(a, b, rtol=0, atol=1e-8)


@pytest.mark.parametrize("name", ["grs80", "wgs72", "bessel", "clarke1866"], ids=str)
def test_named_ellipsoids_agree_with_pymap3d(name):
    ell = pymap3d.Ellipsoid.from_name(name)
    assert og._axes(name) == pytest.approx((ell.semimajor_axis, ell.semiminor_axis), abs=1e-3)
    # pymap3d's forward conversion is exact to rounding; ours must invert it.
    xyz = pymap3d.geodetic2ecef(LAT[:100], LON[:100], H[:100], ell=ell)
    lat, lon, h = og.ecef2geodetic(*xyz, ell=ell)
    assert np.max(np.abs(lat - LAT[:100])) < 1e-12 and np.max(np.abs(h - H[:100])) < 1e-8
    ours = og.geodetic2ecef(LAT[:100], LON[:100], H[:100], ell=ell)
    assert np.max(np.abs(np.subtract(ours, xyz))) < ECEF_TOL


def test_constants_are_ellipsoids():
    assert isinstance(og.WGS84, Ellipsoid) and og.WGS84.Re == 6378137.0
    assert og.GRS80.f == 1 / 298.257222101 and og.WGS72.Re == 6378135.0


def test_sphere():
    sphere = pymap3d.Ellipsoid(6371e3, 6371e3)
    lat, lon, h = og.ecef2geodetic(6371e3 + 10, 0, 6371e3 + 10, ell=sphere)
    assert lat == pytest.approx(45.0, abs=1e-12)
    assert h == pytest.approx(math.hypot(6371e3 + 10, 6371e3 + 10) - 6371e3, abs=1e-8)
    assert og.ecef2geodetic(0.0, 0.0, 0.0, ell=sphere) == (90.0, 0.0, -6371e3)


# --- pickling --------------------------------------------------------------------------------


def test_functions_and_ufuncs_pickle_by_reference():
    for f in (og.ecef2geodetic, og.lookAtSpheroid, _ufuncs.ecef2geodetic, _ufuncs.enu2aer):
        assert pickle.loads(pickle.dumps(f)) is f


def test_core_ellipsoid_refuses_pickling_so_names_are_used():
    with pytest.raises(TypeError):
        pickle.dumps(og.WGS84)
    assert pickle.loads(pickle.dumps(pymap3d.Ellipsoid.from_name("wgs84"))) is not None


# --- bad input -------------------------------------------------------------------------------


def test_shapes_that_do_not_broadcast():
    with pytest.raises(ValueError, match="broadcast"):
        og.ecef2geodetic(np.zeros(3), np.zeros(4), 0.0)


@pytest.mark.parametrize(
    "bad", ["a", np.array(["x", "y"]), object()], ids=["str", "str-array", "object"]
)
def test_non_numeric_raises_type_error(bad):
    with pytest.raises(TypeError):
        og.ecef2geodetic(bad, 0.0, 0.0)
    with pytest.raises(TypeError):
        og.geodetic2ecef(bad, 0.0, 0.0)


def test_unknown_ellipsoid_name_lists_the_names():
    with pytest.raises(ValueError, match="unknown ellipsoid name 'wgs85'.*wgs84.*grs80.*wgs72"):
        og.geodetic2ecef(0, 0, 0, ell="wgs85")


@pytest.mark.parametrize(
    "ell",
    [
        SimpleNamespace(semimajor_axis=1.0, semiminor_axis=2.0),
        SimpleNamespace(semimajor_axis=0.0, semiminor_axis=0.0),
        3.5,
    ],
    ids=["prolate", "zero", "float"],
)
def test_invalid_ellipsoid_objects(ell):
    with pytest.raises((ValueError, TypeError), match="semi"):
        og.geodetic2ecef(0, 0, 0, ell=ell)


def test_nan_in_nan_out_without_warnings():
    nan = math.nan
    for name, args, _ in CASES:
        args = [np.full(3, nan) if i == 0 else a for i, a in enumerate(args)]
        args = [a[:3] if isinstance(a, np.ndarray) else a for a in args]
        res = getattr(og, name)(*args)
        assert np.isnan(res[0]).all() or np.isnan(res[1]).all() or np.isnan(res[2]).all(), name


@pytest.mark.parametrize(
    ("xyz", "expect"),
    [
        ((math.inf, 0.0, 0.0), (0.0, 0.0, math.inf)),
        ((0.0, -math.inf, 0.0), (0.0, -90.0, math.inf)),
        ((0.0, 0.0, -math.inf), (-90.0, 0.0, math.inf)),
        (
            (math.inf, math.inf, math.inf),
            (math.degrees(math.atan(1 / math.sqrt(2))), 45.0, math.inf),
        ),
        ((math.inf, math.nan, 0.0), (math.nan, math.nan, math.nan)),
    ],
    ids=["x", "minus-y", "minus-z", "diagonal", "with-nan"],
)
def test_infinite_ecef_gives_direction(xyz, expect):
    got = og.ecef2geodetic(*xyz)
    assert np.allclose(got, expect, rtol=1e-15, atol=0, equal_nan=True)


def test_infinite_angles_give_nan_and_return():
    x, y, z = og.geodetic2ecef([math.inf, 0.0], [0.0, -math.inf], 0.0)
    assert np.isnan(x).all()
    e, n, u = og.aer2enu(math.inf, 0.0, 1.0)
    assert math.isnan(e) and math.isnan(n) and u == 0.0


@pytest.mark.parametrize(("name", "args", "kinds"), CASES, ids=[c[0] for c in CASES])
def test_one_point_path_gives_the_array_bits(name, args, kinds):
    # Plain numbers go straight to the ufunc's loop; arrays through the ufunc. Same bits.
    f = getattr(og, name)
    first = [float(a[0]) if isinstance(a, np.ndarray) else a for a in args]
    scalar = f(*first)
    array = f(*[np.array([v]) for v in first])
    assert all(type(v) is np.float64 for v in scalar)
    for s, a in zip(scalar, array, strict=True):
        assert s.tobytes() == a[0].tobytes()
    assert f(*[np.float64(v) for v in first]) == scalar


OBSERVED = [c for c in CASES if len(c[1]) >= 5]


@pytest.mark.parametrize(("name", "args", "kinds"), OBSERVED, ids=[c[0] for c in OBSERVED])
def test_one_observer_gives_the_bits_of_an_observer_per_point(name, args, kinds):
    # A broadcast observer is derived once per call; the same observer repeated for every
    # point (and per point with the ellipsoid too) is derived block by block. Same bits.
    f = getattr(og, name)
    once = f(*args)
    repeated = f(*args[:3], *(np.full(N, v) for v in args[3:]))
    for s, r in zip(once, repeated, strict=True):
        assert s.tobytes() == r.tobytes()
    # the observer changing along the points: each point as if alone
    lat0 = np.where(np.arange(N) % 3 == 0, args[3], args[3] + 1.0)
    mixed = f(*args[:3], lat0, *args[4:])
    alone = f(*(a[1::3] for a in args[:3]), args[3] + 1.0, *args[4:])
    for s, r in zip(mixed, alone, strict=True):
        assert s[1::3].tobytes() == r.tobytes()


def test_one_observer_of_the_line_of_sight_gives_the_bits_of_an_observer_per_point():
    az, tilt = RNG.uniform(0, 360, N), RNG.uniform(0, 80, N)
    once = og.lookAtSpheroid(LAT0, LON0, 5e5, az, tilt)
    repeated = og.lookAtSpheroid(*(np.full(N, v) for v in (LAT0, LON0, 5e5)), az, tilt)
    for s, r in zip(once, repeated, strict=True):
        assert s.tobytes() == r.tobytes()


@pytest.mark.parametrize(("name", "args", "kinds"), CASES, ids=[c[0] for c in CASES])
def test_degrees_are_the_radian_results_scaled(name, args, kinds):
    # The degree ufuncs scale inside their loops with the products NumPy would form: inputs by
    # pi/180, outputs by 180/pi; an azimuth of 360 (should rounding reach it) is 0.
    ours = getattr(og, name)(*args)
    radians = getattr(og, name)(*_to_radians(name, args), deg=False)
    for got, rad, kind in zip(ours, radians, kinds, strict=True):
        if kind == "m":
            ref = rad
        else:
            ref = np.multiply(rad, 180.0 / math.pi) + 0.0
            if kind == "az":
                ref = np.where(ref >= 360.0, ref - 360.0, ref)
        assert got.tobytes() == ref.tobytes()
    az, _, _ = og.enu2aer(-0.0, 1.0, 0.0)  # -0 radians due north is +0 degrees
    assert az == 0.0 and math.copysign(1.0, az) == 1.0


def test_point_entry_checks_its_arguments():
    assert _ufuncs.point(_ufuncs.enu2aer, 1.0, 2.0, "3") is None  # not a number: the ufunc path
    with pytest.raises(TypeError, match="enu2aer takes 3 numbers, got 2"):
        _ufuncs.point(_ufuncs.enu2aer, 1.0, 2.0)
    with pytest.raises(TypeError, match="needs a ufunc of this module"):
        _ufuncs.point(np.add, 1.0, 2.0)


def test_ellipsoid_per_point_through_the_ufunc():
    # The semi-axes are ufunc inputs like any other: one ellipsoid a point gives the results of
    # separate calls.
    wgs, bes = og._axes("wgs84"), og._axes("bessel")
    a = np.array([wgs[0], bes[0]] * 5)
    b = np.array([wgs[1], bes[1]] * 5)
    x, y, z = X[:10], Y[:10], Z[:10]
    got = _ufuncs.ecef2geodetic(x, y, z, a, b)
    for k, (aa, bb) in enumerate((wgs, bes)):
        ref = _ufuncs.ecef2geodetic(x[k::2], y[k::2], z[k::2], aa, bb)
        for g, r in zip(got, ref, strict=True):
            assert np.array_equal(g[k::2], r)


@pytest.mark.parametrize(
    ("a", "b"), [(0.0, 0.0), (1.0, 2.0), (math.nan, 1.0), (-1.0, -1.0)], ids=str
)
def test_degenerate_axes_in_the_ufunc_return(a, b):
    # Unchecked at the ufunc level: whatever comes out, the loops end.
    res = _ufuncs.ecef2geodetic(X[:20], Y[:20], Z[:20], a, b)
    assert all(r.shape == (20,) for r in res)


# --- pymap3d's Ellipsoid ---------------------------------------------------------------------


def test_pymap3d_ellipsoid_code_runs():
    # pm.Ellipsoid(a, b) and pm.Ellipsoid.from_name(...) as pymap3d code writes them; the
    # records give the results of the names and of pymap3d's own objects, and they pickle.
    grs = og.Ellipsoid.from_name("GRS80")
    theirs = pymap3d.Ellipsoid.from_name("grs80")
    assert (grs.semimajor_axis, grs.semiminor_axis) == og._axes("grs80")
    for attr in ("flattening", "thirdflattening", "eccentricity"):
        assert getattr(grs, attr) == pytest.approx(getattr(theirs, attr), rel=1e-15)
    mine = og.Ellipsoid(6378137.0, 6356752.0, name="test")
    ref = og.ecef2geodetic(X[:50], Y[:50], Z[:50], ell=pymap3d.Ellipsoid(6378137.0, 6356752.0))
    got = og.ecef2geodetic(X[:50], Y[:50], Z[:50], ell=pickle.loads(pickle.dumps(mine)))
    assert all(np.array_equal(g, r) for g, r in zip(got, ref, strict=True))
    assert og.geodetic2ecef(1.0, 2.0, 3.0, ell=grs) == og.geodetic2ecef(1.0, 2.0, 3.0, "grs80")


@pytest.mark.parametrize(
    ("make", "error", "match"),
    [
        (lambda: og.Ellipsoid.from_name("mars2000"), ValueError, "known names: wgs84, grs80"),
        (lambda: og.Ellipsoid(1.0, 2.0), ValueError, "a >= b > 0"),
        (lambda: og.Ellipsoid(math.nan, 1.0), ValueError, "a >= b > 0"),
        (lambda: og.Ellipsoid("x", 1.0), ValueError, "could not convert"),
    ],
    ids=["unknown-name", "b-above-a", "nan", "text"],
)
def test_pymap3d_ellipsoid_refuses_bad_axes(make, error, match):
    with pytest.raises(error, match=match):
        make()
