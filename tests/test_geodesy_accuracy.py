"""Accuracy of the geodesy conversions against an mpmath reference (110-bit arithmetic):
ECEF -> geodetic from 50 km to 1e9 m (poles, polar axis, equatorial plane and the interior
outside the evolute), the nearest foot point inside the evolute, geodetic -> ECEF to 2 ulp,
and round trips."""

import math

import mpmath as mp
import numpy as np
import pytest

import orbalis.geodesy as og

A = og.WGS84.Re
B = og.WGS84.Rp
PREC = 110  # bits of the mpmath reference


@pytest.fixture(autouse=True)
def _mpmath_precision():
    with mp.workprec(PREC):
        yield


with mp.workprec(PREC):
    RATIO = mp.mpf(B) / mp.mpf(A)
    AE2 = (mp.mpf(A) ** 2 - mp.mpf(B) ** 2) / mp.mpf(A)


def _reference(x, y, z, beta_start):
    """Latitude (rad) and height (m) of (x, y, z) on WGS-84 by Newton's method in 110-bit
    arithmetic on the reduced-latitude equation, from `beta_start`."""
    x, y, z = mp.mpf(x), mp.mpf(y), mp.mpf(z)
    rho = mp.sqrt(x * x + y * y)
    a_, b_ = rho / AE2, RATIO * z / AE2
    beta = mp.mpf(beta_start)
    for _ in range(60):
        s, c = mp.sin(beta), mp.cos(beta)
        step = (s * c - a_ * s + b_ * c) / (c * c - s * s - a_ * c - b_ * s)
        beta -= step
        if abs(step) < mp.mpf(2) ** -100:
            break
    s, c = mp.sin(beta), mp.cos(beta)
    lat = mp.atan2(s, RATIO * c)
    h = (rho - A * c) * mp.cos(lat) + (z - B * s) * mp.sin(lat)
    return lat, h


def _points(n, seed):
    """n points with |r| log-uniform in [5e4, 1e9] m and directions uniform on the sphere,
    plus the special families: poles and polar axis, equatorial plane, just inside and on the
    surface."""
    rng = np.random.default_rng(seed)
    r = 10 ** rng.uniform(math.log10(5e4), 9, n)
    v = rng.normal(size=(n, 3))
    v /= np.linalg.norm(v, axis=1)[:, None]
    pts = [v * r[:, None]]
    radii = np.array([5e4, 1e5, 1e6, 6356752.3, 6.4e6, 1e7, 4.2e7, 1e9])
    pts.append(np.stack([0 * radii, 0 * radii, radii], 1))  # north pole axis
    pts.append(np.stack([0 * radii, 0 * radii, -radii], 1))
    ang = rng.uniform(-math.pi, math.pi, radii.size)
    pts.append(np.stack([radii * np.cos(ang), radii * np.sin(ang), 0 * radii], 1))  # equator
    lat = rng.uniform(-math.pi / 2, math.pi / 2, 40)
    lon = rng.uniform(-math.pi, math.pi, 40)
    for h in (-5e6, -1e5, -1.0, 0.0, 1e-3, 400e3):  # interior outside the evolute, surface
        pts.append(np.stack(og.geodetic2ecef(lat, lon, h, deg=False), 1))
    return np.concatenate(pts)


@pytest.mark.parametrize("seed", [1, 2], ids=["sample-a", "sample-b"])
def test_ecef2geodetic_against_mpmath(seed):
    pts = _points(250, seed)
    lat, lon, h = og.ecef2geodetic(pts[:, 0], pts[:, 1], pts[:, 2], deg=False)
    assert not np.isnan(lat).any() and not np.isnan(h).any()
    worst_lat = worst_h = 0.0
    for i, (x, y, z) in enumerate(pts):
        ref_lat, ref_h = _reference(x, y, z, math.atan2(z, math.hypot(x, y) * float(RATIO)))
        worst_lat = max(worst_lat, abs(float(lat[i] - ref_lat)))
        r = math.sqrt(x * x + y * y + z * z)
        h_err = abs(float(h[i] - ref_h))
        h_tol = 1e-7 if r <= 1e8 else 2e-15 * r
        assert h_err <= h_tol, (x, y, z, h_err)
        worst_h = max(worst_h, h_err / h_tol * 1e-7)
        ref_lon = 0.0 if x == 0 and y == 0 else float(mp.atan2(y, x))
        assert abs(lon[i] - ref_lon) <= 4.5e-16 * max(1.0, abs(ref_lon)), (x, y)
    assert worst_lat <= 2e-15, worst_lat
    assert worst_h <= 1e-7


def test_polar_axis_gives_longitude_zero():
    lat, lon, h = og.ecef2geodetic([0.0, -0.0, 0.0], [0.0, 0.0, -0.0], [7e6, -7e6, 1e5])
    assert list(lon) == [0.0, 0.0, 0.0]
    assert list(lat) == [90.0, -90.0, 90.0]
    assert h[0] == pytest.approx(7e6 - B, abs=1e-8)


def _nearest_surface_distance(rho, z):
    """Distance from (rho, z) to the nearest point of the meridian ellipse (dense scan, then
    refined by golden-section search in mpmath)."""
    beta = np.linspace(-math.pi, math.pi, 200001)
    d = np.hypot(rho - A * np.cos(beta), z - B * np.sin(beta))
    k = int(np.argmin(d))
    f = lambda t: mp.sqrt((rho - A * mp.cos(t)) ** 2 + (z - B * mp.sin(t)) ** 2)  # noqa: E731
    lo, hi = mp.mpf(beta[k - 1]), mp.mpf(beta[k + 1])
    g = (mp.sqrt(5) - 1) / 2
    for _ in range(120):
        m1, m2 = hi - g * (hi - lo), lo + g * (hi - lo)
        if f(m1) < f(m2):
            hi = m2
        else:
            lo = m1
    return float(f((lo + hi) / 2))


@pytest.mark.parametrize(
    ("rho", "z"),
    [(0.0, 0.0), (1e3, 1e3), (2e4, 1.0), (3e4, -5e3), (4.2e4, 100.0), (1e3, 4e4), (0.0, 3e4)],
    ids=["centre", "near-centre", "equator-side", "south", "cusp", "axis-side", "axis"],
)
def test_inside_the_evolute_gives_the_nearest_foot_point(rho, z):
    lat, lon, h = og.ecef2geodetic(rho, 0.0, z, deg=False)
    # The result is a foot point: the height measured along its normal reaches the point.
    back = og.geodetic2ecef(lat, lon, h, deg=False)
    assert math.dist(back, (rho, 0.0, z)) < 1e-8
    assert abs(h) == pytest.approx(_nearest_surface_distance(rho, z), abs=1e-7)


def test_geodetic2ecef_within_two_ulp():
    rng = np.random.default_rng(7)
    n = 300
    lat = rng.uniform(-math.pi / 2, math.pi / 2, n)
    lon = rng.uniform(-math.pi, math.pi, n)
    h = np.concatenate([rng.uniform(-1e4, 1e5, n // 2), 10 ** rng.uniform(5, 9, n - n // 2)])
    xyz = np.stack(og.geodetic2ecef(lat, lon, h, deg=False), 1)
    e2 = 1 - RATIO**2
    for i in range(n):
        sl, cl = mp.sin(lat[i]), mp.cos(lat[i])
        nn = A / mp.sqrt(1 - e2 * sl * sl)
        ref = ((nn + h[i]) * cl * mp.cos(lon[i]), (nn + h[i]) * cl * mp.sin(lon[i]))
        ref = (*ref, (nn * RATIO**2 + h[i]) * sl)
        ulp = np.spacing(float(mp.sqrt(sum(c * c for c in ref))))
        err = max(abs(float(xyz[i, k] - ref[k])) for k in range(3))
        assert err <= 2 * ulp, (lat[i], lon[i], h[i], err / ulp)


def test_round_trips_within_1e8_m():
    # Up to 1000 km altitude the coordinates are spaced 1e-9 m; round trips stay within 1e-8 m.
    # Further out the bound is a few spacings of the coordinates.
    rng = np.random.default_rng(11)
    n = 200000
    lat = rng.uniform(-90, 90, n)
    lon = rng.uniform(-180, 180, n)
    h = rng.uniform(-5e4, 1e6, n)
    x, y, z = og.geodetic2ecef(lat, lon, h)
    x2, y2, z2 = og.geodetic2ecef(*og.ecef2geodetic(x, y, z))
    assert np.max(np.sqrt((x - x2) ** 2 + (y - y2) ** 2 + (z - z2) ** 2)) <= 1e-8
    far = rng.uniform(1e6, 1e9, n)
    xf, yf, zf = og.geodetic2ecef(lat, lon, far)
    xf2, yf2, zf2 = og.geodetic2ecef(*og.ecef2geodetic(xf, yf, zf))
    err = np.sqrt((xf - xf2) ** 2 + (yf - yf2) ** 2 + (zf - zf2) ** 2)
    assert np.max(err / np.spacing(far + 6.4e6)) <= 8
    e, nn, u = og.geodetic2enu(lat, lon, h, 10.0, 20.0, 30.0)
    lat2, lon2, h2 = og.enu2geodetic(e, nn, u, 10.0, 20.0, 30.0)
    x3, y3, z3 = og.geodetic2ecef(lat2, lon2, h2)
    assert np.max(np.sqrt((x - x3) ** 2 + (y - y3) ** 2 + (z - z3) ** 2)) <= 1e-8


@pytest.mark.parametrize(
    ("x", "y", "z"),
    [(1e200, 0.0, 0.0), (1e200, 1e200, 1e200), (0.0, 0.0, 1e300), (3e40, -4e40, 5e40)],
    ids=["equator", "diagonal", "axis", "beyond-1e30"],
)
def test_far_points_give_the_geocentric_direction(x, y, z):
    # Far beyond the ellipsoid the normal passes the centre: geocentric latitude, |r| height.
    lat, lon, h = og.ecef2geodetic(x, y, z, deg=False)
    with mp.workprec(PREC):
        rho = mp.sqrt(mp.mpf(x) ** 2 + mp.mpf(y) ** 2)
        assert float(lat) == float(mp.atan2(z, rho))
        assert float(h) == pytest.approx(float(mp.sqrt(rho**2 + mp.mpf(z) ** 2)), rel=4e-16)
