"""Observation geometry: aer_coords, enu and ray intersection on 10^6 WGS-84 inputs.

Prints ns/point for orbalis (typed NumPy path, and the generic item-protocol path on fewer
points), plain C++ loops over the same kernels with no Python glue (the limit for these
algorithms), the plain loop calling the table's kernel slot per item, and pymap3d's
vectorised NumPy equivalents, each with its ratio to the plain loop, then how many times
faster orbalis is than the peer. Run from the test environment:
``.venv/bin/python benchmarks/bench_observation.py [n]``.

For one observer or one source the methods do what the plain loops do: the observer's
position and frame (aer_coords) or the ray kernel's quotient of f (ray intersection) once
per call, then the rest of the kernel per item, with the same bits as the per-item slot.
"""

from __future__ import annotations

import math
import os
import sys

# Idle BLAS worker threads spin on this two-core machine; nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
from _harness import ns_per_item, print_table  # noqa: E402

from orbalis._testing import _kernels as plain  # noqa: E402
from orbalis.datamodel import AER_dtype, ENU_dtype  # noqa: E402
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid  # noqa: E402

A, F = 6378137.0, 1 / 298.257223563
WGS84 = Ellipsoid(A, F)
PLAIN = "plain C++ loop, same kernel"
NEW_ARRAY = "plain C++ loop into a new array"
SLOT = "plain C++ loop, table slot per item"


class Generic(np.ndarray):
    """An ndarray subclass: the methods read it element by element through __getitem__."""


def optional(module):
    try:
        return __import__(module, fromlist=["_"])
    except ImportError:
        return None


def report(title, rows, ours, peer):
    print_table(title, rows, PLAIN)
    times = dict(rows)
    if times.get(peer):
        print(f"{'orbalis vs ' + peer:44s} {times[peer] / times[ours]:12.1f}x faster")


def bench_aer(n, rng, pymap3d):
    lat0, lon0, alt0 = 0.7, -1.3, 350.0
    lat = np.arcsin(rng.uniform(-1, 1, n))
    r = WGS84.pos_from_lla(lat, rng.uniform(-math.pi, math.pi, n), rng.uniform(0, 4e7, n))
    m = min(n, 20_000)  # the generic path is ~0.3 us/point: time it on fewer points
    out = np.zeros(n, AER_dtype)
    ours = "orbalis aer_coords (typed)"
    rows = [
        (ours, ns_per_item(lambda: WGS84.aer_coords(r, lat0, lon0, alt0), n, 3)),
        (
            PLAIN,
            ns_per_item(lambda: plain.aer_from_observer(WGS84, r, lat0, lon0, alt0, out), n, 3),
        ),
        (
            NEW_ARRAY,
            ns_per_item(
                lambda: plain.aer_from_observer(WGS84, r, lat0, lon0, alt0, np.empty(n, AER_dtype)),
                n,
                3,
            ),
        ),
        (SLOT, ns_per_item(lambda: plain.aer_coords(WGS84, r, lat0, lon0, alt0, out), n, 3)),
        (
            "orbalis aer_coords (item protocol)",
            ns_per_item(lambda: WGS84.aer_coords(r[:m].view(Generic), lat0, lon0, alt0), m, 3),
        ),
    ]
    peer = "pymap3d ecef2aer"
    if pymap3d:
        x, y, z = (r[:, k].copy() for k in range(3))
        ell = pymap3d.Ellipsoid(WGS84.Re, WGS84.Rp)

        def ecef2aer():
            return pymap3d.ecef2aer(x, y, z, lat0, lon0, alt0, ell=ell, deg=False)

        rows.append((peer, ns_per_item(ecef2aer, n, 3)))
    report(f"aer_coords, {n} targets from one observer", rows, ours, peer)


def bench_enu(n, rng, pymap3d):
    lat = np.arcsin(rng.uniform(-1, 1, n))
    lon = rng.uniform(-math.pi, math.pi, n)
    m = min(n, 20_000)
    out = np.zeros(n, ENU_dtype)
    ours = "orbalis enu (typed)"
    rows = [
        (ours, ns_per_item(lambda: WGS84.enu(lat, lon), n, 3)),
        (PLAIN, ns_per_item(lambda: plain.enu(WGS84, lat, lon, out), n, 3)),
        (NEW_ARRAY, ns_per_item(lambda: plain.enu(WGS84, lat, lon, np.empty(n, ENU_dtype)), n, 3)),
        (
            "orbalis enu (item protocol)",
            ns_per_item(lambda: WGS84.enu(lat[:m].view(Generic), lon[:m].view(Generic)), m, 3),
        ),
    ]
    peer = "pymap3d enu2uvw of the 3 unit vectors"
    if pymap3d:
        # pymap3d has no basis function: its ENU rotation of the three unit vectors is one.
        one, zero = np.ones(n), np.zeros(n)
        units = ((one, zero, zero), (zero, one, zero), (zero, zero, one))

        def basis():
            return [pymap3d.enu2uvw(*unit, lat, lon, deg=False) for unit in units]

        rows.append((peer, ns_per_item(basis, n, 3)))
    report(f"enu, {n} points", rows, ours, peer)


def bench_ray(n, rng, pymap3d, los):
    lat0, lon0, h0 = 0.7, -1.3, 700e3
    az = rng.uniform(0, 2 * math.pi, n)
    tilt = rng.uniform(0, 1.0, n)  # within 57 degrees of nadir, inside the limb: all hit
    source = WGS84.pos_from_lla(lat0, lon0, h0)
    if pymap3d:
        enu = pymap3d.aer2enu(az, tilt - math.pi / 2, 1.0, deg=False)
        u_ray = np.stack(pymap3d.enu2uvw(*enu, lat0, lon0, deg=False), axis=1)
    else:
        u_ray = -source / np.linalg.norm(source) + rng.normal(scale=0.1, size=(n, 3))
    u_ray = np.ascontiguousarray(u_ray)
    m = min(n, 20_000)
    out = np.zeros((n, 3))
    ours = "orbalis surf_pos_of_ray_first_intersection"
    rows = [
        (ours, ns_per_item(lambda: WGS84.surf_pos_of_ray_first_intersection(source, u_ray), n, 3)),
        (PLAIN, ns_per_item(lambda: plain.ray_first_intersection(WGS84, source, u_ray, out), n, 3)),
        (
            NEW_ARRAY,
            ns_per_item(
                lambda: plain.ray_first_intersection(WGS84, source, u_ray, np.empty((n, 3))), n, 3
            ),
        ),
        (SLOT, ns_per_item(lambda: plain.ray(WGS84, source, u_ray, out), n, 3)),
        (
            "orbalis ray (item protocol)",
            ns_per_item(
                lambda: WGS84.surf_pos_of_ray_first_intersection(source, u_ray[:m].view(Generic)),
                m,
                3,
            ),
        ),
    ]
    peer = "pymap3d lookAtSpheroid"
    if los:
        ell = pymap3d.Ellipsoid(WGS84.Re, WGS84.Rp)

        def look():
            return los.lookAtSpheroid(lat0, lon0, h0, az, tilt, ell=ell, deg=False)

        rows.append((peer, ns_per_item(look, n, 3)))
    report(f"ray intersection, {n} directions from one source", rows, ours, peer)


def main(n: int = 1_000_000) -> None:
    rng = np.random.default_rng(42)
    pymap3d, los = optional("pymap3d"), optional("pymap3d.los")
    bench_aer(n, rng, pymap3d)
    bench_enu(n, rng, pymap3d)
    bench_ray(n, rng, pymap3d, los)


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000)
