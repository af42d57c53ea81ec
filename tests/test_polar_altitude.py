"""Altitude of positions near the poles against a 50-digit mpmath reference.

The reference finds the foot point on the WGS-84 meridian ellipse from scratch: the reduced
latitude beta at which the position lies on the surface normal, solved in mpmath, then the
signed distance along that normal. Positions are built in mpmath from a geodetic latitude
within 1e-12 to 1e-2 rad of a pole and an altitude of 0 to 1e8 m, rounded to doubles, and the
reference works from those doubles, so it measures the conversion and nothing else.
"""

import math

import mpmath
import numpy as np
import pytest

from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

A = 6378137.0
F = 1 / 298.257223563
WGS84 = Ellipsoid(A, F)
TOLERANCE_M = 1e-4


def reference_altitude(x, y, z):
    """Signed distance (m) of the double position (x, y, z) from WGS-84 along its normal."""
    with mpmath.workdps(50):
        a, f = mpmath.mpf(A), mpmath.mpf(F)
        b = a * (1 - f)
        rho = mpmath.sqrt(mpmath.mpf(x) ** 2 + mpmath.mpf(y) ** 2)
        z = mpmath.mpf(z)

        # the foot point (a cos beta, b sin beta) has (rho, z) on its normal (b cos, a sin)
        def normal_condition(beta):
            return (
                a * rho * mpmath.sin(beta)
                - b * z * mpmath.cos(beta)
                - (a * a - b * b) * mpmath.sin(beta) * mpmath.cos(beta)
            )

        beta = mpmath.findroot(normal_condition, mpmath.atan2(a * z, b * rho), tol=1e-45)
        lat = mpmath.atan2(a * mpmath.sin(beta), b * mpmath.cos(beta))
        along = (rho - a * mpmath.cos(beta)) * mpmath.cos(lat)
        return float(along + (z - b * mpmath.sin(beta)) * mpmath.sin(lat))


def position(colatitude, altitude, lon, south):
    """Doubles of the position at geodetic colatitude (rad from the pole) and altitude (m)."""
    with mpmath.workdps(50):
        a, f = mpmath.mpf(A), mpmath.mpf(F)
        e2 = f * (2 - f)
        lat = mpmath.pi / 2 - mpmath.mpf(colatitude)
        n = a / mpmath.sqrt(1 - e2 * mpmath.sin(lat) ** 2)
        rho = (n + altitude) * mpmath.cos(lat)
        z = (n * (1 - e2) + altitude) * mpmath.sin(lat)
        return (
            float(rho * mpmath.cos(lon)),
            float(rho * mpmath.sin(lon)),
            float(-z if south else z),
        )


ALTITUDES = [0.0, 1.0, 400e3, 35786e3, 1e8]


def regime_positions(kind):
    """(N, 3) double positions of one regime near the poles, both hemispheres."""
    rng = np.random.default_rng(["latitudes", "axis", "random"].index(kind))
    rows = []
    if kind == "latitudes":  # colatitude 1e-12 .. 1e-2 rad at fixed altitudes
        for colat in np.logspace(-12, -2, 11):
            for h in ALTITUDES:
                rows.append((colat, h))
    elif kind == "axis":  # axis distance 2e-5 .. 100 m, colatitude from it
        for rho in np.logspace(math.log10(2e-5), 2, 12):
            for h in ALTITUDES:
                rows.append((rho / (A / (1 - F) + h), h))
    else:  # random colatitude (log-uniform) and altitude
        for _ in range(150):
            rows.append((10 ** rng.uniform(-12, -2), rng.uniform(0, 1e8) * rng.choice([1, 1e-4])))
    out = []
    for i, (colat, h) in enumerate(rows):
        lon = rng.uniform(-math.pi, math.pi)
        out.append(position(colat, h, lon, south=bool(i % 2)))
    return np.array(out)


@pytest.fixture(scope="module", params=["latitudes", "axis", "random"])
def regime(request):
    r = regime_positions(request.param)
    rho = np.hypot(r[:, 0], r[:, 1])
    r = r[rho >= 2e-5]  # the axis branch (rho < 1e-5 m) measures from the pole itself
    expected = np.array([reference_altitude(*row) for row in r])
    return request.param, r, expected


def test_polar_altitude_matches_the_reference(regime):
    name, r, expected = regime
    alt = WGS84.lla_from_pos(r)["alt"]
    error = np.abs(alt - expected)
    assert len(r) > 40 and error.max() < TOLERANCE_M, (name, error.max(), r[error.argmax()])


@pytest.mark.parametrize(
    "r, expected",
    [
        ((1e-4, 0.0, 6.4e6), 43247.686),  # 0.1 mm from the axis, once 27 m wrong
        (position(4e-2 / (A + 35786e3), 35786e3, 0.3, False), 35786e3),  # 4 cm, GEO height
    ],
    ids=["0.1mm-from-axis", "4cm-at-geo"],
)
def test_points_once_far_off(r, expected):
    alt = WGS84.lla_from_pos(np.array(r))["alt"][0]
    assert abs(alt - reference_altitude(*r)) < TOLERANCE_M
    assert alt == pytest.approx(expected, abs=1e-3)
