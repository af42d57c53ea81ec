"""Local ENU frames, azimuth-elevation-range observation and ray intersection on an Ellipsoid."""

import math

import numpy as np
import pytest

from orbalis._testing import ArrayLike, _kernels, same_bits
from orbalis.datamodel import AER_dtype, ENU_dtype
from orbalis.mathtools.ellipsoid import ellipsoid as ellipsoid_module
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

pymap3d = pytest.importorskip("pymap3d")
pymap3d_los = pytest.importorskip("pymap3d.los")

WGS84 = Ellipsoid(6378137.0, 1 / 298.257223563)
SPHERE = Ellipsoid(1.0, 0.0)
TOY = Ellipsoid(1.0, 0.3)
RE = WGS84.Re
WGS84_PYMAP3D = pymap3d.Ellipsoid(WGS84.Re, WGS84.Rp)
ENU, AER, RAY = WGS84.enu, WGS84.aer_coords, WGS84.surf_pos_of_ray_first_intersection
FIELDS = ("u_east", "u_north", "u_up")


def globe(n, seed=0):
    rng = np.random.default_rng(seed)
    lat = np.concatenate([rng.uniform(-np.pi / 2, np.pi / 2, n), [np.pi / 2, -np.pi / 2, 0, 0]])
    return lat, np.concatenate([rng.uniform(-np.pi, np.pi, n), [0.3, -2.0, np.pi, -np.pi]])


def observers_and_targets(n, seed):
    rng = np.random.default_rng(seed)
    lat, lon = rng.uniform(-1.5, 1.5, n), rng.uniform(-np.pi, np.pi, n)
    targets = rng.normal(size=(n, 3)) * rng.uniform(1e3, 4e7, (n, 1))
    return lat, lon, rng.uniform(-500.0, 9000.0, n), targets


# -- local ENU frame -----------------------------------------------------------------------


@pytest.mark.parametrize("e", [WGS84, SPHERE, TOY])
def test_enu_is_the_right_handed_geodetic_basis(e):
    # the frame depends on the geodetic latitude only, so pymap3d's rotation holds for any e
    lat, lon = globe(500)
    frames = e.enu(lat, lon)
    assert frames.dtype == ENU_dtype and frames.shape == lat.shape
    basis = np.stack([frames[f] for f in FIELDS], axis=1)
    gram = np.einsum("nij,nkj->nik", basis, basis)
    np.testing.assert_allclose(gram, np.broadcast_to(np.eye(3), gram.shape), rtol=0, atol=1e-15)
    np.testing.assert_allclose(np.cross(basis[:, 0], basis[:, 1]), basis[:, 2], atol=1e-15)
    for k, field in enumerate(FIELDS):
        unit = [np.full_like(lat, float(j == k)) for j in range(3)]
        reference = np.stack(pymap3d.enu2uvw(*unit, lat, lon, deg=False), axis=1)
        np.testing.assert_allclose(frames[field], reference, rtol=0, atol=1e-15)


def test_enu_at_the_origin_of_coordinates_keeps_signed_zeros():
    (frame,) = ENU(0.0, 0.0)
    assert same_bits(frame["u_east"], np.array([-0.0, 1.0, 0.0]))
    assert same_bits(frame["u_north"], np.array([-0.0, -0.0, 1.0]))
    assert same_bits(frame["u_up"], np.array([1.0, 0.0, 0.0]))


@pytest.mark.parametrize("lon", [0.0, 0.7, -2.5, np.pi])
def test_enu_at_the_pole(lon):
    (frame,) = ENU(np.pi / 2, lon)
    np.testing.assert_allclose(frame["u_up"], [0, 0, 1], atol=1e-16)
    np.testing.assert_array_equal(frame["u_east"], [-math.sin(lon), math.cos(lon), 0.0])
    np.testing.assert_allclose(frame["u_north"], [-math.cos(lon), -math.sin(lon), 0.0], atol=1e-16)


@pytest.mark.parametrize(
    "lat, lon", [(0.5, 1), (np.float64(0.5), np.int32(1)), (True, 1.0), (0.5, np.float32(1.0))]
)
def test_enu_of_real_numbers_is_one_record(lat, lon):
    frames = ENU(lat, lon)
    assert frames.shape == (1,) and frames.dtype == ENU_dtype
    assert same_bits(frames, ENU(np.array([float(lat)]), np.array([float(lon)])))


# -- azimuth, elevation, range --------------------------------------------------------------


def test_aer_against_pymap3d():
    lat, lon, alt, targets = observers_and_targets(200, seed=2)
    for k in range(len(lat)):
        (aer,) = AER(targets[k], lat[k], lon[k], alt[k])
        az, el, rng = pymap3d.ecef2aer(
            *targets[k], lat[k], lon[k], alt[k], ell=WGS84_PYMAP3D, deg=False
        )
        assert -np.pi < aer["azimuth"] <= np.pi
        assert abs(math.remainder(aer["azimuth"] - az, 2 * np.pi)) < 1e-10
        assert aer["elevation"] == pytest.approx(el, abs=1e-10)
        assert aer["range"] == pytest.approx(rng, rel=1e-12, abs=1e-6)


@pytest.mark.parametrize(
    "target, observer, expected",  # None: no meaning, not compared
    [
        ([RE, 0, 1000], (0, 0, 0), (0.0, 0.0, 1000.0)),  # due north
        ([RE, -1000, 0], (0, 0, 0), (-np.pi / 2, 0.0, 1000.0)),  # due west, not 3 pi / 2
        ([RE, 1000, 0], (0, 0, 0), (np.pi / 2, 0.0, 1000.0)),  # due east
        ([RE, 0, -1000], (0, 0, 0), (np.pi, 0.0, 1000.0)),  # due south
        ([RE - 1000, 0, 0], (0, 0, 0), (None, -np.pi / 2, 1000.0)),  # straight down
        ([2 * RE, 0, 0], (0, 0, 0), (None, np.pi / 2, RE)),  # overhead
        (WGS84.pos_from_lla(0.4, -1.2, 250.0), (0.4, -1.2, 250.0), (None, np.nan, 0.0)),
        # the altitude moves the observer, not the frame
        ([2 * RE, 1000, 0], (0, 0, RE / 2), (np.pi / 2, None, math.hypot(RE / 2, 1000.0))),
    ],
)
def test_aer_cases(target, observer, expected):
    (aer,) = AER(np.array(target, dtype=float), *observer)
    for got, want in zip(aer.item(), expected, strict=True):
        assert want is None or got == want or (math.isnan(want) and math.isnan(got))


# -- ray intersection -----------------------------------------------------------------------


@pytest.mark.parametrize(
    "e, source, direction, expected",  # NaN: a miss; None: any surface point
    [
        (WGS84, [2 * RE, 0, 0], [-1, 0, 0], [RE, 0, 0]),
        (WGS84, [2 * RE, 0, 0], [-5, 0, 0], [RE, 0, 0]),
        (WGS84, [0, 0, 2 * RE], [0, 0, -1], [0, 0, WGS84.Rp]),
        (WGS84, [0, 0, 0], [1, 0, 0], [-RE, 0, 0]),  # centre: equal roots, the tie takes l2
        (SPHERE, [2, 0, 1], [-1, 0, 0], [0, 0, 1]),  # tangent ahead of the source
        (SPHERE, [0.5, 0, 0], [1, 0, 0], [1, 0, 0]),  # inside: nearer point ahead
        (SPHERE, [0.5, 0, 0], [-1, 0, 0], [1, 0, 0]),  # inside: nearer point behind
        (SPHERE, [1, 0, 0], [1, 0, 0], [1, 0, 0]),  # on the surface, looking out
        (SPHERE, [1, 0, 0], [-1, 0, 0], [1, 0, 0]),  # on the surface, looking in
        (TOY, [3, 1, 2], [-3, -1, -2], None),  # towards the centre: on the segment
        (WGS84, [2 * RE, 2 * RE, 0], [0, 0, 1], np.nan),  # the line misses
        (WGS84, [2 * RE, 0, 0], [1, 0, 0], np.nan),  # pointing away: both roots behind
        (SPHERE, [2, 0, 1], [1, 0, 0], np.nan),  # tangent point behind the source
        (WGS84, [2 * RE, 0, 0], [0, 0, 0], np.nan),  # no direction
        (WGS84, [np.nan, 0, 0], [1, 0, 0], np.nan),
    ],
)
def test_ray_hits_and_misses(e, source, direction, expected):
    point = e.surf_pos_of_ray_first_intersection(
        np.array(source, float), np.array(direction, float)
    )
    assert point.shape == (3,) and point.dtype == np.float64
    if expected is np.nan:
        assert np.isnan(point).all()
        return
    if expected is not None:
        np.testing.assert_allclose(point, expected, rtol=1e-15, atol=1e-9 * e.Re)
    x, y, z = point
    assert (x * x + y * y + (z / (1 - e.f)) ** 2) / e.Re**2 == pytest.approx(1.0, abs=1e-14)


def test_ray_against_pymap3d_look_at_spheroid():
    rng = np.random.default_rng(6)
    n = 400
    lat0, lon0 = rng.uniform(-1.5, 1.5, n), rng.uniform(-np.pi, np.pi, n)
    h0 = rng.uniform(0.0, 4e7, n)
    az, tilt = rng.uniform(0, 2 * np.pi, n), rng.uniform(0, np.pi / 2, n)
    lat, lon, d = pymap3d_los.lookAtSpheroid(lat0, lon0, h0, az, tilt, ell=WGS84_PYMAP3D, deg=False)
    enu = pymap3d.aer2enu(az, tilt - np.pi / 2, 1.0, deg=False)
    u = np.stack(pymap3d.enu2uvw(*enu, lat0, lon0, deg=False), axis=1)
    sources = np.stack(pymap3d.geodetic2ecef(lat0, lon0, h0, ell=WGS84_PYMAP3D, deg=False), axis=1)
    hit = ~np.isnan(d)
    assert 0 < hit.sum() < n
    for k in range(n):
        point = RAY(sources[k], u[k])
        assert np.isnan(point).all() != hit[k]
        if hit[k]:
            np.testing.assert_allclose(point, sources[k] + d[k] * u[k], rtol=0, atol=1e-6)


@pytest.mark.parametrize("e", [WGS84, SPHERE, TOY])
@pytest.mark.parametrize(  # ray sources at the centre, on the surface, inside, outside
    "scale, observer",
    [(0.0, (0.3, -0.7, 120.0)), (1.0, (np.pi / 2, 0, 0)), (0.5, (-1, 3, -40.0)), (2.0, (0, 0, 0))],
)
def test_batches_equal_the_slot_per_row_bit_for_bit(e, scale, observer):
    # Under the module's own table a batch computes the observer's position and frame, or the
    # ray kernel's quotient of f, once per call; the single-vector path and the instrumented
    # subclass call the slot per row.
    instrumented = _kernels.InstrumentedEllipsoid(e.Re, e.f)
    rng = np.random.default_rng(7)
    source = np.array([1.0, 0.5, 0.8]) / np.sqrt(1.89) * scale * e.Re
    u = np.concatenate([rng.normal(size=(300, 3)), [[0, 0, 0], [np.nan, 0, 0], [np.inf, 1, 0]]])
    u[:50] = -source + rng.normal(scale=0.3 * e.Re, size=(50, 3))  # mostly at the ellipsoid
    targets = observers_and_targets(300, seed=4)[3]
    targets[:3] = [e.pos_from_lla(*observer), [0, 0, 0], [np.nan, 1, 2]]
    rays, aer = e.surf_pos_of_ray_first_intersection(source, u), e.aer_coords(targets, *observer)
    assert np.isnan(rays).any(axis=1).sum() < len(u) - 40
    assert same_bits(rays, np.stack([e.surf_pos_of_ray_first_intersection(source, v) for v in u]))
    assert same_bits(aer, np.concatenate([e.aer_coords(t, *observer) for t in targets]))
    _kernels.take_counts()
    assert same_bits(instrumented.surf_pos_of_ray_first_intersection(source, u), rays)
    assert same_bits(instrumented.aer_coords(targets, *observer), aer)
    counts = _kernels.take_counts()
    assert counts["c_surf_pos_of_ray_first_intersection"] == len(u)
    assert counts["c_aer_coords"] == counts["c_enu"] == counts["c_pos_from_lla"] == len(targets)
    for loop in (_kernels.ray, _kernels.ray_first_intersection):
        plain = np.zeros(u.shape)
        loop(e, source, u, plain)
        assert same_bits(plain, rays)
    plain = np.zeros(len(targets), AER_dtype)
    _kernels.aer_coords(e, targets, *observer, plain)
    assert same_bits(plain, aer)


# -- arguments: shapes, keywords, errors ---------------------------------------------------


@pytest.mark.parametrize("n", [None, 0, 1, 4])  # None: one vector
def test_result_shapes(n):
    rows = () if n is None else (n,)
    aer = AER(np.full((*rows, 3), 7e6), 0.1, 0.2, 0.3)
    assert aer.shape == (rows or (1,)) and aer.dtype == AER_dtype
    u = np.zeros((*rows, 3))
    u[..., 0] = -1.0
    point = RAY(np.array([2 * RE, 0, 0]), u)
    assert point.shape == (*rows, 3) and point.dtype == np.float64
    assert (point == RE * np.array([1.0, 0, 0])).all()
    frames = ENU(np.zeros(n or 0), np.zeros(n or 0))
    assert frames.shape == (n or 0,) and frames.dtype == ENU_dtype


def test_keywords():
    r, u = np.array([7e6, 1e5, -3e5]), np.array([-1.0, 0.1, 0.2])
    assert same_bits(ENU(lon=0.2, lat=0.1), ENU(0.1, 0.2))
    assert same_bits(AER(alt_obs=3.0, lon_obs=0.2, r_target=r, lat_obs=0.1), AER(r, 0.1, 0.2, 3.0))
    assert same_bits(RAY(u_ray=u, r_source=r), RAY(r, u))


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: ENU(np.array([0.1, 0.2]), np.array([0.3])), AssertionError),
        (lambda: ENU(0.1, np.array([0.3])), AttributeError),
        (lambda: ENU(np.float64(0.1), np.array([0.3])), AssertionError),
        (lambda: ENU(np.array(0.1), np.array(0.2)), AssertionError),
        (lambda: ENU(np.zeros((2, 2)), np.zeros((2, 2))), AssertionError),
        (lambda: ENU([0.1], [0.2]), AttributeError),
        (lambda: ENU(np.array(["a"], dtype=object), np.zeros(1)), TypeError),
        (lambda: ENU(0.1), TypeError),
        (lambda: ENU(0.1, 0.2, 0.3), TypeError),
        (lambda: ENU(lat=0.1, longitude=0.2), TypeError),
        (lambda: AER(np.zeros((4, 2)), 0, 0, 0), AssertionError),
        (lambda: AER(np.zeros(4), 0, 0, 0), AssertionError),
        (lambda: AER(np.zeros((2, 3, 1)), 0, 0, 0), AssertionError),
        (lambda: AER(np.array(1.0), 0, 0, 0), AssertionError),
        (lambda: AER([1.0, 2.0, 3.0], 0, 0, 0), AttributeError),
        # the observer is converted before r_target is looked at
        (lambda: AER(np.zeros(3), "a", 0, 0), TypeError),
        (lambda: AER([1.0], 0, 0, None), TypeError),
        (lambda: AER(np.zeros((4, 2)), 0, "0", 0), TypeError),
        (lambda: AER(np.array([[1.0, 2.0, "x"]], dtype=object), 0, 0, 0), TypeError),
        (lambda: AER(np.zeros(3), 0, 0), TypeError),
        (lambda: AER(np.zeros(3), 0, 0, 0, alt_obs=0), TypeError),
        (lambda: RAY([2 * RE, 0, 0], np.zeros(3)), AttributeError),
        (lambda: RAY(np.zeros((1, 3)), np.zeros(3)), AssertionError),
        # r_source is checked before u_ray is looked at
        (lambda: RAY(np.zeros(2), [1, 0, 0]), AssertionError),
        (lambda: RAY(np.array([0, 0, "a"], dtype=object), [1]), TypeError),
        (lambda: RAY(np.zeros(3), [1.0, 0.0, 0.0]), AttributeError),
        (lambda: RAY(np.zeros(3), np.zeros(2)), AssertionError),
        (lambda: RAY(np.zeros(3), np.zeros((4, 2))), AssertionError),
        (lambda: RAY(np.zeros(3), np.zeros((1, 1, 3))), AssertionError),
        (lambda: RAY(np.zeros(3), np.array(1.0)), AssertionError),
        (lambda: RAY(np.zeros(3)), TypeError),
        (lambda: RAY(np.zeros(3), u=np.zeros(3)), TypeError),
    ],
)
def test_argument_errors(call, error):
    with pytest.raises(error):
        call()


# -- typed reads against the item protocol -------------------------------------------------


def variants(array):
    """The same values as typed-path candidates: contiguous, Fortran-ordered, strided."""
    yield np.ascontiguousarray(array)
    yield np.asfortranarray(array)
    wide = np.zeros(array.shape[:-1] + (array.shape[-1] * 2,), dtype=array.dtype)
    wide[..., ::2] = array
    yield wide[..., ::2]
    yield np.flip(np.flip(array, 0).copy(), 0)  # negative strides


class Subclass(np.ndarray):
    pass


@pytest.mark.parametrize(
    "dtype", [np.float64, np.float32, np.int64, np.uint16, np.longdouble, np.bool_]
)
def test_typed_paths_match_the_item_protocol(dtype):
    lat, lon, alt, targets = observers_and_targets(40, seed=8)
    scale = 1.0 if np.issubdtype(dtype, np.floating) else 1e-3
    targets = (targets * scale).astype(dtype)
    directions = (-targets.astype(float)).astype(dtype)
    source = np.array([3 * RE, 0, RE] if dtype != np.bool_ else [1, 0, 1]).astype(dtype)
    angles = [c.astype(dtype) if dtype != np.bool_ else (c > 0) for c in (lat, lon)]

    generic_aer = AER(ArrayLike(targets), 0.3, 0.2, 10.0)
    generic_ray = RAY(ArrayLike(source), ArrayLike(directions))
    generic_enu = ENU(*[ArrayLike(c) for c in angles])
    for other in [targets.astype(object), targets.view(Subclass), *variants(targets)]:
        assert same_bits(AER(other, 0.3, 0.2, 10.0), generic_aer)
    for other in [directions.astype(object), *variants(directions)]:
        assert same_bits(RAY(source, other), generic_ray)
    for other in [source.astype(object), source.view(Subclass), source[::-1][::-1]]:
        assert same_bits(RAY(other, directions), generic_ray)
    for pair in zip(*[list(variants(c[:, None])) for c in angles], strict=True):
        assert same_bits(ENU(*[p[:, 0] for p in pair]), generic_enu)
    assert same_bits(ENU(*[c.astype(object) for c in angles]), generic_enu)
    assert same_bits(AER(targets[0], 0.3, 0.2, 10.0), AER(ArrayLike(targets[0]), 0.3, 0.2, 10.0))


def test_inputs_are_never_written():
    lat, lon, _, targets = observers_and_targets(10, seed=9)
    before = [a.copy() for a in (lat, lon, targets)]
    ENU(lat, lon)
    AER(targets, 0.1, 0.2, 0.3)
    RAY(targets[0], targets)
    assert all(same_bits(a, b) for a, b in zip(before, (lat, lon, targets), strict=True))


# -- errors from the kernels, record dtypes, python -O -------------------------------------


@pytest.fixture
def failing_c_enu():
    instrumented = _kernels.InstrumentedEllipsoid(1.0, 0.1)
    _kernels.set_fail_c_enu(True)
    yield instrumented
    _kernels.set_fail_c_enu(False)


@pytest.mark.parametrize(
    "method, args",
    [
        ("enu", (0.1, 0.2)),
        ("enu", (np.zeros(3), np.zeros(3))),
        ("aer_coords", (np.ones(3), 0.1, 0.2, 0.3)),
        ("aer_coords", (np.ones((5, 3)), 0.1, 0.2, 0.3)),
    ],
)
def test_errors_pending_in_a_replaced_slot_name_the_kernel_and_the_method(
    failing_c_enu, method, args
):
    _kernels.take_counts()
    with pytest.raises(RuntimeError, match="c_enu failed") as info:
        getattr(failing_c_enu, method)(*args)
    assert _kernels.take_counts()["c_enu"] == 1  # the loop stops at the first error
    names = [method, "c_aer_coords"] if method == "aer_coords" else [method]
    qualnames = [t.name for t in info.traceback if t.name.startswith("orbalis.")]
    assert qualnames == [f"orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid.{n}" for n in names]


@pytest.mark.parametrize(
    "name, fields, call",
    [
        ("ENU_dtype", [("u_east", "f8", 2), ("u_north", "f8", 3), ("u_up", "f8", 3)], (0.1, 0.2)),
        ("ENU_dtype", [("a", ">f8", 3), ("b", ">f8", 3), ("c", ">f8", 3)], (np.zeros(2),) * 2),
        ("AER_dtype", [("azimuth", "f4"), ("elevation", "f8"), ("range", "f8")], (np.ones(3),)),
        ("AER_dtype", [("a", "f8"), ("e", "f8"), ("r", "f8"), ("x", "f8")], (np.ones((2, 3)),)),
    ],
)
def test_record_dtype_mismatch_raises_value_error(monkeypatch, name, fields, call):
    monkeypatch.setattr(ellipsoid_module, name, np.dtype(fields))
    with pytest.raises(ValueError):
        ENU(*call) if name == "ENU_dtype" else AER(*call, 0, 0, 0)


def test_renamed_record_fields_are_accepted(monkeypatch):
    renamed = np.dtype([("a", "f8"), ("e", "f8"), ("r", "f8")])
    monkeypatch.setattr(ellipsoid_module, "AER_dtype", renamed)
    assert AER(np.array([2 * RE, 0, 0]), 0, 0, 0)["r"][0] == RE
