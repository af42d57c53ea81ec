"""Benchmark of orbalis.geodesy against erfa, pyproj and pymap3d, measured in the same run:
ns/point on 10^6 points (one thread), the time of one call on one point for every function,
and two threads on two chunks against one thread on the whole.

Run: python benchmarks/bench_geodesy.py [--n N]. The figures are best-of-N wall times; on a
shared machine they move with the load, the ratios (same run) much less."""

from __future__ import annotations

import argparse
import concurrent.futures
import math
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from _harness import ns_per_call, ns_per_item, print_table  # noqa: E402

import orbalis.geodesy as og  # noqa: E402

WGS84_A, WGS84_F = 6378137.0, 1 / 298.257223563


def _inputs(n):
    rng = np.random.default_rng(1)
    lat = rng.uniform(-90, 90, n)
    lon = rng.uniform(-180, 180, n)
    h = rng.uniform(-1e3, 1e5, n)
    return lat, lon, h, og.geodetic2ecef(lat, lon, h)


def bench_batches(n):
    import erfa
    import pymap3d
    import pyproj

    lat, lon, h, (x, y, z) = _inputs(n)
    xyz = np.stack([x, y, z], axis=1)
    lat_r, lon_r = np.radians(lat), np.radians(lon)
    to_geodetic = pyproj.Transformer.from_crs("EPSG:4978", "EPSG:4979", always_xy=True)
    rows = [
        ("orbalis.geodesy.ecef2geodetic", ns_per_item(lambda: og.ecef2geodetic(x, y, z), n)),
        (
            "orbalis.geodesy.ecef2geodetic(deg=False)",
            ns_per_item(lambda: og.ecef2geodetic(x, y, z, deg=False), n),
        ),
        ("erfa.gc2gde", ns_per_item(lambda: erfa.gc2gde(WGS84_A, WGS84_F, xyz), n)),
        ("pyproj EPSG:4978 -> 4979", ns_per_item(lambda: to_geodetic.transform(x, y, z), n)),
        ("pymap3d.ecef2geodetic", ns_per_item(lambda: pymap3d.ecef2geodetic(x, y, z), n, 2)),
    ]
    print_table(f"ECEF -> geodetic, {n} points", rows, "orbalis.geodesy.ecef2geodetic")
    rows = [
        ("orbalis.geodesy.geodetic2ecef", ns_per_item(lambda: og.geodetic2ecef(lat, lon, h), n)),
        (
            "orbalis.geodesy.geodetic2ecef(deg=False)",
            ns_per_item(lambda: og.geodetic2ecef(lat_r, lon_r, h, deg=False), n),
        ),
        ("erfa.gd2gce", ns_per_item(lambda: erfa.gd2gce(WGS84_A, WGS84_F, lon_r, lat_r, h), n)),
        ("pymap3d.geodetic2ecef", ns_per_item(lambda: pymap3d.geodetic2ecef(lat, lon, h), n)),
    ]
    print_table(f"geodetic -> ECEF, {n} points", rows, "orbalis.geodesy.geodetic2ecef")
    obs = (42.0, -71.0, 50.0)
    rows = [
        ("orbalis.geodesy.ecef2aer", ns_per_item(lambda: og.ecef2aer(x, y, z, *obs), n)),
        ("pymap3d.ecef2aer", ns_per_item(lambda: pymap3d.ecef2aer(x, y, z, *obs), n, 2)),
    ]
    print_table(f"ECEF -> AER, {n} points", rows, "orbalis.geodesy.ecef2aer")


def bench_one_point():
    import pymap3d
    import pymap3d.los

    x, y, z = 1113194.9, -4845000.0, 3983000.0
    calls = {
        "geodetic2ecef": (42.0, -71.0, 50.0),
        "ecef2geodetic": (x, y, z),
        "ecef2enu": (x, y, z, 42.0, -71.0, 50.0),
        "enu2ecef": (1e3, 2e3, 3e3, 42.0, -71.0, 50.0),
        "geodetic2enu": (42.1, -71.1, 50.0, 42.0, -71.0, 50.0),
        "enu2geodetic": (1e3, 2e3, 3e3, 42.0, -71.0, 50.0),
        "ecef2ned": (x, y, z, 42.0, -71.0, 50.0),
        "ned2ecef": (1e3, 2e3, 3e3, 42.0, -71.0, 50.0),
        "geodetic2ned": (42.1, -71.1, 50.0, 42.0, -71.0, 50.0),
        "ned2geodetic": (1e3, 2e3, 3e3, 42.0, -71.0, 50.0),
        "ecef2aer": (x, y, z, 42.0, -71.0, 50.0),
        "aer2ecef": (30.0, 20.0, 1e4, 42.0, -71.0, 50.0),
        "geodetic2aer": (42.1, -71.1, 50.0, 42.0, -71.0, 50.0),
        "aer2geodetic": (30.0, 20.0, 1e4, 42.0, -71.0, 50.0),
        "enu2aer": (1e3, 2e3, 3e3),
        "aer2enu": (30.0, 20.0, 1e4),
        "ned2aer": (1e3, 2e3, 3e3),
        "aer2ned": (30.0, 20.0, 1e4),
        "ecef2enuv": (1e3, 2e3, 3e3, 42.0, -71.0),
        "enu2ecefv": (1e3, 2e3, 3e3, 42.0, -71.0),
        "lookAtSpheroid": (42.0, -71.0, 1e6, 30.0, 20.0),
    }
    print("\nOne point per call (us): orbalis.geodesy vs pymap3d")
    print(f"{'function':18s} {'orbalis':>10s} {'pymap3d':>10s} {'ratio':>8s}")
    worst = 0.0
    for name, args in calls.items():
        ours = getattr(og, name)
        theirs = getattr(pymap3d, name, None) or getattr(pymap3d.los, name)
        t_ours = ns_per_call("f(*a)", {"f": ours, "a": args}) / 1e3
        t_theirs = ns_per_call("f(*a)", {"f": theirs, "a": args}) / 1e3
        worst = max(worst, t_ours)
        print(f"{name:18s} {t_ours:10.2f} {t_theirs:10.2f} {t_theirs / t_ours:7.1f}x")
    print(f"slowest orbalis.geodesy call on one point: {worst:.2f} us")


def bench_threads(n):
    """The ufunc loop on the whole array against two threads on its halves. Both write into
    preallocated outputs (first-touch page faults of fresh arrays would otherwise dominate and
    serialise in the kernel), and the pool's threads exist before timing starts. The CPU time
    used per wall second shows whether the two halves really ran at once."""
    from orbalis.geodesy import _ufuncs

    _, _, _, (x, y, z) = _inputs(n)
    a, b = og.WGS84.Re, og.WGS84.Rp
    out = tuple(np.empty(n) for _ in range(3))
    half = n // 2
    halves = (slice(0, half), slice(half, n))
    pool = concurrent.futures.ThreadPoolExecutor(2)
    list(pool.map(lambda _: None, range(2)))  # start both threads

    def one_thread():
        _ufuncs.ecef2geodetic(x, y, z, a, b, out=out)

    def run_half(s):
        _ufuncs.ecef2geodetic(x[s], y[s], z[s], a, b, out=tuple(o[s] for o in out))

    def two_threads():
        for job in [pool.submit(run_half, s) for s in halves]:
            job.result()

    rows = [
        ("one thread, whole array", ns_per_item(one_thread, n, 15, 0.05)),
        ("two threads, two halves", ns_per_item(two_threads, n, 15, 0.05)),
    ]
    cpu, wall = time.process_time(), time.perf_counter()
    for _ in range(5):
        two_threads()
    busy = (time.process_time() - cpu) / (time.perf_counter() - wall)
    pool.shutdown()
    print_table(f"ecef2geodetic ufunc, {n} points, threads", rows, "one thread, whole array")
    speedup = rows[0][1] / rows[1][1]
    print(f"two-thread speed-up: {speedup:.2f}x; CPUs busy during the two-thread runs: {busy:.2f}")
    print("(on a machine whose second core is taken by other work the speed-up cannot reach 2)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=10**6, help="points per batch (default 1e6)")
    args = parser.parse_args()
    if args.n < 2 or not math.isfinite(args.n):
        parser.error(f"--n must be at least 2, got {args.n}")
    bench_batches(args.n)
    bench_one_point()
    bench_threads(args.n)


if __name__ == "__main__":
    main()
