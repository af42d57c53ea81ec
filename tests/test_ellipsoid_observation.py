"""Local ENU frames, azimuth-elevation-range observation and ray intersection on an Ellipsoid."""

import math

import numpy as np
import pytest

from orbalis._testing import _kernels
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


def same_bits(a, b):
    a, b = np.ascontiguousarray(a), np.ascontiguousarray(b)
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def unstructured(records):
    return records.view(np.float64).reshape(len(records), -1)


def globe(n, seed=0):
    rng = np.random.default_rng(seed)
    lat = rng.uniform(-np.pi / 2, np.pi / 2, n)
    lon = rng.uniform(-np.pi, np.pi, n)
    return np.concatenate([lat, [np.pi / 2, -np.pi / 2, 0.0, 0.0]]), np.concatenate(
        [lon, [0.3, -2.0, np.pi, -np.pi]]
    )


class ArrayLike:
    """Exposes only ndim, shape and item access, so every element goes through __getitem__."""

    def __init__(self, array):
        self._array = np.asarray(array)
        self.ndim = self._array.ndim
        self.shape = self._array.shape

    def __getitem__(self, index):
        item = self._array[index]
        return ArrayLike(item) if isinstance(item, np.ndarray) else item


# -- local ENU frame -----------------------------------------------------------------------


@pytest.mark.parametrize("e", [WGS84, SPHERE, TOY])
def test_enu_is_a_right_handed_orthonormal_basis(e):
    lat, lon = globe(500)
    frames = e.enu(lat, lon)
    assert frames.dtype == ENU_dtype and frames.shape == lat.shape
    east, north, up = frames["u_east"], frames["u_north"], frames["u_up"]
    basis = np.stack([east, north, up], axis=1)
    gram = np.einsum("nij,nkj->nik", basis, basis)
    np.testing.assert_allclose(gram, np.broadcast_to(np.eye(3), gram.shape), rtol=0, atol=1e-15)
    np.testing.assert_allclose(np.cross(east, north), up, rtol=0, atol=1e-15)


def test_enu_against_pymap3d_rotation():
    lat, lon = globe(300, seed=1)
    frames = WGS84.enu(lat, lon)
    one, zero = np.ones_like(lat), np.zeros_like(lat)
    for field, enu in [
        ("u_east", (one, zero, zero)),
        ("u_north", (zero, one, zero)),
        ("u_up", (zero, zero, one)),
    ]:
        reference = np.stack(pymap3d.enu2uvw(*enu, lat, lon, deg=False), axis=1)
        np.testing.assert_allclose(frames[field], reference, rtol=0, atol=1e-15)


def test_enu_at_the_origin_of_coordinates_keeps_signed_zeros():
    (frame,) = WGS84.enu(0.0, 0.0)
    assert same_bits(frame["u_east"], np.array([-0.0, 1.0, 0.0]))
    assert same_bits(frame["u_north"], np.array([-0.0, -0.0, 1.0]))
    assert same_bits(frame["u_up"], np.array([1.0, 0.0, 0.0]))


@pytest.mark.parametrize("lon", [0.0, 0.7, -2.5, np.pi])
def test_enu_at_the_pole(lon):
    (frame,) = WGS84.enu(np.pi / 2, lon)
    np.testing.assert_allclose(frame["u_up"], [0, 0, 1], atol=1e-16)
    np.testing.assert_array_equal(frame["u_east"], [-math.sin(lon), math.cos(lon), 0.0])
    np.testing.assert_allclose(frame["u_north"], [-math.cos(lon), -math.sin(lon), 0.0], atol=1e-16)


@pytest.mark.parametrize(
    "lat, lon", [(0.5, 1), (np.float64(0.5), np.int32(1)), (True, 1.0), (0.5, np.float32(1.0))]
)
def test_enu_of_real_numbers_is_one_record(lat, lon):
    frames = WGS84.enu(lat, lon)
    assert frames.shape == (1,) and frames.dtype == ENU_dtype
    assert same_bits(frames, WGS84.enu(np.array([float(lat)]), np.array([float(lon)])))


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: WGS84.enu(np.array([0.1, 0.2]), np.array([0.3])), AssertionError),
        (lambda: WGS84.enu(0.1, np.array([0.3])), AttributeError),
        (lambda: WGS84.enu(np.float64(0.1), np.array([0.3])), AssertionError),
        (lambda: WGS84.enu(np.array(0.1), np.array(0.2)), AssertionError),
        (lambda: WGS84.enu(np.zeros((2, 2)), np.zeros((2, 2))), AssertionError),
        (lambda: WGS84.enu([0.1], [0.2]), AttributeError),
        (lambda: WGS84.enu("a", 0.2), AttributeError),
        (lambda: WGS84.enu(np.array(["a"], dtype=object), np.zeros(1)), TypeError),
        (lambda: WGS84.enu(0.1), TypeError),
        (lambda: WGS84.enu(0.1, 0.2, 0.3), TypeError),
        (lambda: WGS84.enu(lat=0.1, longitude=0.2), TypeError),
    ],
)
def test_enu_errors(call, error):
    with pytest.raises(error):
        call()


def test_enu_keywords_and_empty_batches():
    assert same_bits(WGS84.enu(lon=0.2, lat=0.1), WGS84.enu(0.1, 0.2))
    empty = WGS84.enu(np.zeros(0), np.zeros(0))
    assert empty.shape == (0,) and empty.dtype == ENU_dtype


# -- azimuth, elevation, range --------------------------------------------------------------


def observers_and_targets(n, seed):
    rng = np.random.default_rng(seed)
    lat = rng.uniform(-1.5, 1.5, n)
    lon = rng.uniform(-np.pi, np.pi, n)
    alt = rng.uniform(-500.0, 9000.0, n)
    targets = rng.normal(size=(n, 3)) * rng.uniform(1e3, 4e7, (n, 1))
    return lat, lon, alt, targets


def test_aer_against_pymap3d():
    lat, lon, alt, targets = observers_and_targets(200, seed=2)
    for k in range(len(lat)):
        (aer,) = WGS84.aer_coords(targets[k], lat[k], lon[k], alt[k])
        az, el, rng = pymap3d.ecef2aer(
            *targets[k], lat[k], lon[k], alt[k], ell=WGS84_PYMAP3D, deg=False
        )
        assert -np.pi < aer["azimuth"] <= np.pi
        assert abs(math.remainder(aer["azimuth"] - az, 2 * np.pi)) < 1e-10
        assert aer["elevation"] == pytest.approx(el, abs=1e-10)
        assert aer["range"] == pytest.approx(rng, rel=1e-12, abs=1e-6)


@pytest.mark.parametrize(
    "target, expected",
    [
        ([RE, 0, 1000], (0.0, 0.0, 1000.0)),  # due north
        ([RE, -1000, 0], (-np.pi / 2, 0.0, 1000.0)),  # due west, not 3 pi / 2
        ([RE, 1000, 0], (np.pi / 2, 0.0, 1000.0)),  # due east
        ([RE, 0, -1000], (np.pi, 0.0, 1000.0)),  # due south
        ([RE - 1000, 0, 0], (None, -np.pi / 2, 1000.0)),  # straight down
    ],
)
def test_aer_cardinal_directions(target, expected):
    (aer,) = WGS84.aer_coords(np.array(target, dtype=float), 0.0, 0.0, 0.0)
    azimuth, elevation, rng = expected
    if azimuth is not None:
        assert aer["azimuth"] == pytest.approx(azimuth, abs=1e-15)
    assert aer["elevation"] == pytest.approx(elevation, abs=1e-15)
    assert aer["range"] == rng


def test_aer_overhead_and_at_the_observer():
    (overhead,) = WGS84.aer_coords(np.array([2 * RE, 0, 0]), 0, 0, 0)
    assert overhead["range"] == RE and overhead["elevation"] == np.pi / 2
    (here,) = WGS84.aer_coords(WGS84.pos_from_lla(0.4, -1.2, 250.0), 0.4, -1.2, 250.0)
    assert here["range"] == 0.0 and np.isnan(here["elevation"])


def test_aer_altitude_moves_the_observer_not_the_frame():
    (low,) = WGS84.aer_coords(np.array([2 * RE, 1000.0, 0]), 0, 0, 0)
    (high,) = WGS84.aer_coords(np.array([2 * RE, 1000.0, 0]), 0, 0, RE / 2)
    assert low["azimuth"] == high["azimuth"] == np.pi / 2
    assert high["range"] == pytest.approx(math.hypot(RE / 2, 1000.0))


@pytest.mark.parametrize(
    "shape, result", [((3,), (1,)), ((4, 3), (4,)), ((0, 3), (0,)), ((1, 3), (1,))]
)
def test_aer_shapes(shape, result):
    aer = WGS84.aer_coords(np.full(shape, 7e6), 0.1, 0.2, 0.3)
    assert aer.shape == result and aer.dtype == AER_dtype


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: WGS84.aer_coords(np.zeros((4, 2)), 0, 0, 0), AssertionError),
        (lambda: WGS84.aer_coords(np.zeros(4), 0, 0, 0), AssertionError),
        (lambda: WGS84.aer_coords(np.zeros((2, 3, 1)), 0, 0, 0), AssertionError),
        (lambda: WGS84.aer_coords(np.array(1.0), 0, 0, 0), AssertionError),
        (lambda: WGS84.aer_coords([1.0, 2.0, 3.0], 0, 0, 0), AttributeError),
        (lambda: WGS84.aer_coords(1.0, 0, 0, 0), AttributeError),
        # the observer is converted before r_target is looked at
        (lambda: WGS84.aer_coords(np.zeros(3), "a", 0, 0), TypeError),
        (lambda: WGS84.aer_coords([1.0], 0, 0, None), TypeError),
        (lambda: WGS84.aer_coords(np.zeros((4, 2)), 0, "0", 0), TypeError),
        (lambda: WGS84.aer_coords(np.array([[1.0, 2.0, "x"]], dtype=object), 0, 0, 0), TypeError),
        (lambda: WGS84.aer_coords(np.zeros(3), 0, 0), TypeError),
        (lambda: WGS84.aer_coords(np.zeros(3), 0, 0, 0, alt_obs=0), TypeError),
    ],
)
def test_aer_errors(call, error):
    with pytest.raises(error):
        call()


def test_aer_keywords():
    r = np.array([7e6, 1e5, -3e5])
    assert same_bits(
        WGS84.aer_coords(alt_obs=3.0, lon_obs=0.2, r_target=r, lat_obs=0.1),
        WGS84.aer_coords(r, 0.1, 0.2, 3.0),
    )


def test_aer_batch_equals_single_targets_bit_for_bit():
    # A batch computes the observer once per call under the module's own table; the
    # single-vector path and the instrumented subclass call c_aer_coords per target.
    _, _, _, targets = observers_and_targets(300, seed=4)
    targets[:3] = [WGS84.pos_from_lla(0.3, -0.7, 120.0), [0, 0, 0], [np.nan, 1, 2]]
    instrumented = _kernels.InstrumentedEllipsoid(WGS84.Re, WGS84.f)
    for lat, lon, alt in [(0.3, -0.7, 120.0), (np.pi / 2, 0.0, 0.0), (-1.0, 3.0, -40.0)]:
        batch = WGS84.aer_coords(targets, lat, lon, alt)
        singles = np.concatenate([WGS84.aer_coords(t, lat, lon, alt) for t in targets])
        assert same_bits(batch, singles)
        _kernels.take_counts()
        assert same_bits(instrumented.aer_coords(targets, lat, lon, alt), batch)
        counts = _kernels.take_counts()
        assert counts["c_aer_coords"] == counts["c_enu"] == counts["c_pos_from_lla"] == len(targets)
        plain = np.zeros(len(targets), AER_dtype)
        _kernels.aer_coords(WGS84, targets, lat, lon, alt, plain)
        assert same_bits(plain, batch)


# -- ray intersection -----------------------------------------------------------------------


def ray(e, source, direction):
    return e.surf_pos_of_ray_first_intersection(
        np.array(source, dtype=float), np.array(direction, dtype=float)
    )


@pytest.mark.parametrize(
    "e, source, direction, expected",
    [
        (WGS84, [2 * RE, 0, 0], [-1, 0, 0], [RE, 0, 0]),
        (WGS84, [2 * RE, 0, 0], [-5, 0, 0], [RE, 0, 0]),
        (WGS84, [0, 0, 2 * RE], [0, 0, -1], [0, 0, WGS84.Rp]),
        (WGS84, [0, 0, -2 * RE], [0, 0, 3], [0, 0, -WGS84.Rp]),
        (WGS84, [0, 0, 0], [1, 0, 0], [-RE, 0, 0]),  # centre: equal roots, the tie takes l2
        (SPHERE, [2, 0, 1], [-1, 0, 0], [0, 0, 1]),  # tangent ahead of the source
        (SPHERE, [0.5, 0, 0], [1, 0, 0], [1, 0, 0]),  # inside: nearer point ahead
        (SPHERE, [0.5, 0, 0], [-1, 0, 0], [1, 0, 0]),  # inside: nearer point behind
        (SPHERE, [1, 0, 0], [1, 0, 0], [1, 0, 0]),  # on the surface, looking out
        (SPHERE, [1, 0, 0], [-1, 0, 0], [1, 0, 0]),  # on the surface, looking in
        (WGS84, [RE, 0, 0], [-1, 0.5, 0.25], [RE, 0, 0]),
        (TOY, [3, 1, 2], [-3, -1, -2], None),  # towards the centre: on the segment
    ],
)
def test_ray_hits(e, source, direction, expected):
    point = ray(e, source, direction)
    assert point.shape == (3,) and point.dtype == np.float64
    if expected is not None:
        np.testing.assert_allclose(point, expected, rtol=1e-15, atol=1e-9 * e.Re)
    x, y, z = point
    assert (x * x + y * y + (z / (1 - e.f)) ** 2) / e.Re**2 == pytest.approx(1.0, abs=1e-14)


@pytest.mark.parametrize(
    "e, source, direction",
    [
        (WGS84, [2 * RE, 2 * RE, 0], [0, 0, 1]),  # the line misses
        (WGS84, [2 * RE, 0, 0], [1, 0, 0]),  # pointing away: both roots behind the source
        (WGS84, [2 * RE, 3e6, -4e6], [0.2, 0.1, 0.1]),
        (SPHERE, [2, 0, 1], [1, 0, 0]),  # tangent point behind the source
        (WGS84, [2 * RE, 0, 0], [0, 0, 0]),  # no direction
        (WGS84, [np.nan, 0, 0], [1, 0, 0]),
    ],
)
def test_ray_misses_give_nan(e, source, direction):
    assert np.isnan(ray(e, source, direction)).all()


def test_ray_against_pymap3d_look_at_spheroid():
    rng = np.random.default_rng(6)
    n = 400
    lat0, lon0 = rng.uniform(-1.5, 1.5, n), rng.uniform(-np.pi, np.pi, n)
    h0 = rng.uniform(0.0, 4e7, n)
    az, tilt = rng.uniform(0, 2 * np.pi, n), rng.uniform(0, np.pi / 2, n)
    lat, lon, d = pymap3d_los.lookAtSpheroid(lat0, lon0, h0, az, tilt, ell=WGS84_PYMAP3D, deg=False)
    u = np.stack(
        pymap3d.enu2uvw(
            *pymap3d.aer2enu(az, tilt - np.pi / 2, 1.0, deg=False), lat0, lon0, deg=False
        ),
        axis=1,
    )
    sources = np.stack(pymap3d.geodetic2ecef(lat0, lon0, h0, ell=WGS84_PYMAP3D, deg=False), axis=1)
    hit = ~np.isnan(d)
    assert 0 < hit.sum() < n
    for k in range(n):
        point = WGS84.surf_pos_of_ray_first_intersection(sources[k], u[k])
        assert np.isnan(point).all() != hit[k]
        if hit[k]:
            np.testing.assert_allclose(point, sources[k] + d[k] * u[k], rtol=0, atol=1e-6)
    batch = WGS84.surf_pos_of_ray_first_intersection(sources[0], u)
    singles = np.stack([WGS84.surf_pos_of_ray_first_intersection(sources[0], v) for v in u])
    assert same_bits(batch, singles)


@pytest.mark.parametrize("shape, result", [((3,), (3,)), ((4, 3), (4, 3)), ((0, 3), (0, 3))])
def test_ray_shapes(shape, result):
    u = np.zeros(shape)
    u[..., 0] = -1.0
    point = WGS84.surf_pos_of_ray_first_intersection(np.array([2 * RE, 0, 0]), u)
    assert point.shape == result and point.dtype == np.float64
    assert (point == RE * np.array([1.0, 0, 0])).all()


@pytest.mark.parametrize(
    "call, error",
    [
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection([2 * RE, 0, 0], np.zeros(3)),
            AttributeError,
        ),
        (lambda: WGS84.surf_pos_of_ray_first_intersection(1.0, np.zeros(3)), AttributeError),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros((1, 3)), np.zeros(3)),
            AssertionError,
        ),
        # r_source is checked before u_ray is looked at
        (lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(2), [1, 0, 0]), AssertionError),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(
                np.array([0, 0, "a"], dtype=object), [1]
            ),
            TypeError,
        ),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3), [1.0, 0.0, 0.0]),
            AttributeError,
        ),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3), np.zeros(2)),
            AssertionError,
        ),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3), np.zeros((4, 2))),
            AssertionError,
        ),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3), np.zeros((1, 1, 3))),
            AssertionError,
        ),
        (
            lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3), np.array(1.0)),
            AssertionError,
        ),
        (lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3)), TypeError),
        (lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(3), u=np.zeros(3)), TypeError),
    ],
)
def test_ray_errors(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize("e", [WGS84, SPHERE, TOY])
@pytest.mark.parametrize("scale", [1.0, 0.0, 0.5, 2.0])  # centre, inside, outside
def test_ray_batch_equals_the_slot_per_row_bit_for_bit(e, scale):
    # Under the module's own table a batch forms the kernel's quotient of f once; the
    # instrumented subclass and the single-vector path call the slot per row.
    instrumented = _kernels.InstrumentedEllipsoid(e.Re, e.f)
    rng = np.random.default_rng(7)
    source = np.array([1.0, 0.5, 0.8]) / np.sqrt(1.89) * scale * e.Re
    u = np.concatenate([rng.normal(size=(300, 3)), [[0, 0, 0], [np.nan, 0, 0], [np.inf, 1, 0]]])
    u[:50] = -source + rng.normal(scale=0.3 * e.Re, size=(50, 3))  # mostly at the ellipsoid
    batch = e.surf_pos_of_ray_first_intersection(source, u)
    assert np.isnan(batch).any(axis=1).sum() < len(u) - 40
    singles = np.stack([e.surf_pos_of_ray_first_intersection(source, v) for v in u])
    assert same_bits(batch, singles)
    _kernels.take_counts()
    assert same_bits(instrumented.surf_pos_of_ray_first_intersection(source, u), batch)
    assert _kernels.take_counts()["c_surf_pos_of_ray_first_intersection"] == len(u)
    for loop in (_kernels.ray, _kernels.ray_first_intersection):
        plain = np.zeros(u.shape)
        loop(e, source, u, plain)
        assert same_bits(plain, batch)


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
    source = (
        np.array([3 * RE, 0, RE]).astype(dtype) if dtype != np.bool_ else np.array([1, 0, 1], dtype)
    )
    angles = [c.astype(dtype) if dtype != np.bool_ else (c > 0) for c in (lat, lon)]

    generic_aer = WGS84.aer_coords(ArrayLike(targets), 0.3, 0.2, 10.0)
    generic_ray = WGS84.surf_pos_of_ray_first_intersection(ArrayLike(source), ArrayLike(directions))
    generic_enu = WGS84.enu(*[ArrayLike(c) for c in angles])
    for other in [targets.astype(object), targets.view(Subclass), *variants(targets)]:
        assert same_bits(WGS84.aer_coords(other, 0.3, 0.2, 10.0), generic_aer)
    for other in [directions.astype(object), *variants(directions)]:
        assert same_bits(WGS84.surf_pos_of_ray_first_intersection(source, other), generic_ray)
    for other in [source.astype(object), source.view(Subclass), source[::-1][::-1]]:
        assert same_bits(WGS84.surf_pos_of_ray_first_intersection(other, directions), generic_ray)
    for pair in zip(*[list(variants(c[:, None])) for c in angles], strict=True):
        assert same_bits(WGS84.enu(*[p[:, 0] for p in pair]), generic_enu)
    assert same_bits(WGS84.enu(*[c.astype(object) for c in angles]), generic_enu)
    assert same_bits(
        WGS84.aer_coords(targets[0], 0.3, 0.2, 10.0),
        WGS84.aer_coords(ArrayLike(targets[0]), 0.3, 0.2, 10.0),
    )


def test_inputs_are_never_written():
    lat, lon, _, targets = observers_and_targets(10, seed=9)
    before = [a.copy() for a in (lat, lon, targets)]
    WGS84.enu(lat, lon)
    WGS84.aer_coords(targets, 0.1, 0.2, 0.3)
    WGS84.surf_pos_of_ray_first_intersection(targets[0], targets)
    assert all(same_bits(a, b) for a, b in zip(before, (lat, lon, targets), strict=True))


# -- errors from the kernels, record dtypes, python -O -------------------------------------


def test_errors_pending_in_a_replaced_slot_name_the_kernel_and_the_method():
    instrumented = _kernels.InstrumentedEllipsoid(1.0, 0.1)
    _kernels.set_fail_c_enu(True)
    try:
        for call, names in [
            (lambda: instrumented.enu(0.1, 0.2), ["enu"]),
            (lambda: instrumented.enu(np.zeros(3), np.zeros(3)), ["enu"]),
            (
                lambda: instrumented.aer_coords(np.ones(3), 0.1, 0.2, 0.3),
                ["aer_coords", "c_aer_coords"],
            ),
            (
                lambda: instrumented.aer_coords(np.ones((5, 3)), 0.1, 0.2, 0.3),
                ["aer_coords", "c_aer_coords"],
            ),
        ]:
            _kernels.take_counts()
            with pytest.raises(RuntimeError, match="c_enu failed") as info:
                call()
            assert _kernels.take_counts()["c_enu"] == 1  # the loop stops at the first error
            qualnames = [t.name for t in info.traceback if t.name.startswith("orbalis.")]
            assert qualnames == [
                f"orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid.{name}" for name in names
            ]
    finally:
        _kernels.set_fail_c_enu(False)


@pytest.mark.parametrize(
    "name, bad, call",
    [
        (
            "ENU_dtype",
            np.dtype([("u_east", "f8", (2,)), ("u_north", "f8", (3,)), ("u_up", "f8", (3,))]),
            lambda: WGS84.enu(0.1, 0.2),
        ),
        (
            "ENU_dtype",
            np.dtype([("a", ">f8", (3,)), ("b", ">f8", (3,)), ("c", ">f8", (3,))]),
            lambda: WGS84.enu(np.zeros(2), np.zeros(2)),
        ),
        (
            "AER_dtype",
            np.dtype([("azimuth", "f4"), ("elevation", "f8"), ("range", "f8")]),
            lambda: WGS84.aer_coords(np.ones(3), 0, 0, 0),
        ),
        (
            "AER_dtype",
            np.dtype([("a", "f8"), ("e", "f8"), ("r", "f8"), ("x", "f8")]),
            lambda: WGS84.aer_coords(np.ones((2, 3)), 0, 0, 0),
        ),
    ],
)
def test_record_dtype_mismatch_raises_value_error(monkeypatch, name, bad, call):
    monkeypatch.setattr(ellipsoid_module, name, bad)
    with pytest.raises(ValueError):
        call()


def test_renamed_record_fields_are_accepted(monkeypatch):
    monkeypatch.setattr(
        ellipsoid_module, "AER_dtype", np.dtype([("a", "f8"), ("e", "f8"), ("r", "f8")])
    )
    assert WGS84.aer_coords(np.array([2 * RE, 0, 0]), 0, 0, 0)["r"][0] == RE


def test_short_inputs_under_optimisation_raise_index_error(python_subprocess):
    out = python_subprocess(
        """
        import numpy as np
        from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
        e = Ellipsoid(1.0, 0.1)
        class Rows:
            ndim, shape = 2, (2, 3)
            def __getitem__(self, j):
                return np.zeros(2)
        for label, call in [
            ("aer rows", lambda: e.aer_coords(np.ones((4, 2)), 0, 0, 0)),
            ("aer generic", lambda: e.aer_coords(Rows(), 0, 0, 0)),
            ("aer vector", lambda: e.aer_coords(np.ones(2), 0, 0, 0)),
            ("ray source", lambda: e.surf_pos_of_ray_first_intersection(np.ones(2), np.ones(3))),
            ("ray rows", lambda: e.surf_pos_of_ray_first_intersection(np.ones(3), np.ones((3, 1)))),
            ("ray vector", lambda: e.surf_pos_of_ray_first_intersection(np.ones(3), np.ones(2))),
            ("enu", lambda: e.enu(np.ones(5), np.ones(4))),
        ]:
            try:
                call()
                print(label, "ok")
            except IndexError:
                print(label, "IndexError")
        # surplus columns and elements are ignored
        r = np.arange(8.0).reshape(2, 4) + 2
        narrow = r[:, :3].copy()
        print(e.aer_coords(r, 0, 0, 0).tobytes() == e.aer_coords(narrow, 0, 0, 0).tobytes())
        u = np.array([-1.0, 0, 0, 5])
        print(e.surf_pos_of_ray_first_intersection([3.0, 0, 0, 9], u).tolist())
        print(e.enu(np.zeros(3), np.zeros(4)).shape)
        try:
            e.enu(np.zeros((2, 2)), np.zeros((2, 2)))
        except ValueError:
            print("enu 2-d ValueError")
        """,
        "-O",
    ).stdout.splitlines()
    assert out == [
        "aer rows IndexError",
        "aer generic IndexError",
        "aer vector IndexError",
        "ray source IndexError",
        "ray rows IndexError",
        "ray vector IndexError",
        "enu IndexError",
        "True",
        "[1.0, 0.0, 0.0]",
        "(3,)",
        "enu 2-d ValueError",
    ]
