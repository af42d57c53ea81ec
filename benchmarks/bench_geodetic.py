"""Geodetic conversions: lla_from_pos and pos_from_lla on 10^6 WGS-84 points.

Prints ns/point for orbalis (typed NumPy path and generic item-protocol path), a plain C++
loop over the same kernels (no Python glue: the limit for this algorithm), pyproj,
pyerfa and pymap3d, and the cost of one scalar call. Run from the test environment:
``.venv/bin/python benchmarks/bench_geodetic.py [n_points]``.
"""

from __future__ import annotations

import importlib
import math
import os
import sys

# Idle BLAS worker threads spin on this two-core machine; nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
from _harness import ns_per_call, ns_per_item, print_table  # noqa: E402

from orbalis.datamodel import LLA_dtype  # noqa: E402
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid  # noqa: E402

A, F = 6378137.0, 1 / 298.257223563
WGS84 = Ellipsoid(A, F)


class Generic(np.ndarray):
    """An ndarray subclass: the methods read it element by element through __getitem__."""


def optional(module):
    try:
        return importlib.import_module(module)
    except ImportError:
        return None


def geographiclib_cpp(n: int) -> tuple[float, float] | None:
    """(Reverse, Forward) ns/point of GeographicLib's C++ Geocentric, when it is installed."""
    import shutil
    import subprocess
    import tempfile
    from pathlib import Path

    source = Path(__file__).with_name("geocentric_reverse.cpp")
    if not shutil.which("g++") or not Path("/usr/include/GeographicLib/Geocentric.hpp").exists():
        return None
    with tempfile.TemporaryDirectory() as tmp:
        exe = Path(tmp) / "geocentric"
        build = subprocess.run(
            ["g++", "-O2", "-std=c++17", str(source), "-o", str(exe), "-lGeographicLib"],
            capture_output=True,
        )
        if build.returncode != 0:
            return None
        out = subprocess.run(
            [str(exe), str(n)], capture_output=True, text=True, check=True
        ).stdout.split()
    return float(out[0]), float(out[1])


def main(n: int = 1_000_000) -> None:
    rng = np.random.default_rng(42)
    lat = np.arcsin(rng.uniform(-1, 1, n))
    lon = rng.uniform(-math.pi, math.pi, n)
    alt = rng.uniform(-10e3, 40_000e3, n)
    r = WGS84.pos_from_lla(lat, lon, alt)
    m = min(n, 20_000)  # the generic path is ~1 us/point: time it on fewer points
    r_generic = r[:m].view(Generic)
    plain = optional("orbalis._testing._kernels")
    pyproj, erfa, pymap3d = optional("pyproj"), optional("erfa"), optional("pymap3d")

    rows = [
        ("orbalis lla_from_pos (typed)", ns_per_item(lambda: WGS84.lla_from_pos(r), n, repeat=3))
    ]
    out = np.zeros(n, dtype=LLA_dtype)
    rows.append(
        (
            "plain C++ loop, same kernel",
            ns_per_item(lambda: plain.lla_from_pos(WGS84, r, out), n, repeat=3) if plain else None,
        )
    )
    rows.append(
        (
            "orbalis lla_from_pos (item protocol)",
            ns_per_item(lambda: WGS84.lla_from_pos(r_generic), m, repeat=3),
        )
    )
    if pyproj:
        t = pyproj.Transformer.from_crs("EPSG:4978", "EPSG:4979")
        x, y, z = r[:, 0].copy(), r[:, 1].copy(), r[:, 2].copy()
        rows.append(
            (
                "pyproj Transformer 4978->4979",
                ns_per_item(lambda: t.transform(x, y, z), n, repeat=3),
            )
        )
    if erfa:
        rows.append(("pyerfa gc2gde", ns_per_item(lambda: erfa.gc2gde(A, F, r), n, repeat=3)))
    if pymap3d:
        rows.append(
            (
                "pymap3d ecef2geodetic",
                ns_per_item(
                    lambda: pymap3d.ecef2geodetic(r[:, 0], r[:, 1], r[:, 2], deg=False), n, repeat=3
                ),
            )
        )
    geographiclib = geographiclib_cpp(n)
    if geographiclib:
        rows.append(("GeographicLib C++ Geocentric::Reverse", geographiclib[0]))
    print_table(
        f"lla_from_pos, {n} points",
        rows,
        "plain C++ loop, same kernel" if plain else "orbalis lla_from_pos (typed)",
    )

    lat_g, lon_g, alt_g = (c[:m].view(Generic) for c in (lat, lon, alt))
    rows = [
        (
            "orbalis pos_from_lla (typed)",
            ns_per_item(lambda: WGS84.pos_from_lla(lat, lon, alt), n, repeat=3),
        )
    ]
    lla = np.zeros(n, dtype=LLA_dtype)
    lla["lat"], lla["lon"], lla["alt"] = lat, lon, alt
    out = np.zeros((n, 3))
    rows.append(
        (
            "plain C++ loop, same kernel",
            ns_per_item(lambda: plain.pos_from_lla(WGS84, lla, out), n, repeat=3)
            if plain
            else None,
        )
    )
    rows.append(
        (
            "orbalis pos_from_lla (item protocol)",
            ns_per_item(lambda: WGS84.pos_from_lla(lat_g, lon_g, alt_g), m, repeat=3),
        )
    )
    if pyproj:
        t = pyproj.Transformer.from_crs("EPSG:4979", "EPSG:4978")
        dlat, dlon = np.degrees(lat), np.degrees(lon)
        rows.append(
            (
                "pyproj Transformer 4979->4978",
                ns_per_item(lambda: t.transform(dlat, dlon, alt), n, repeat=3),
            )
        )
    if erfa:
        rows.append(
            ("pyerfa gd2gce", ns_per_item(lambda: erfa.gd2gce(A, F, lon, lat, alt), n, repeat=3))
        )
    if pymap3d:
        rows.append(
            (
                "pymap3d geodetic2ecef",
                ns_per_item(lambda: pymap3d.geodetic2ecef(lat, lon, alt, deg=False), n, repeat=3),
            )
        )
    if geographiclib:
        rows.append(("GeographicLib C++ Geocentric::Forward", geographiclib[1]))
    print_table(
        f"pos_from_lla, {n} points",
        rows,
        "plain C++ loop, same kernel" if plain else "orbalis pos_from_lla (typed)",
    )

    single_calls(r, lat, lon, alt, pyproj, erfa, pymap3d)


def single_calls(r, lat, lon, alt, pyproj, erfa, pymap3d) -> None:
    """One point, an empty batch and a batch of two, each timed as a bare statement (no
    lambda), beside pyproj's Transformer.transform on three Python floats in the same run."""
    r0 = r[0].copy()
    la, lo, al = (float(lat[0]), float(lon[0]), float(alt[0]))
    ns = {
        "e": WGS84,
        "r0": r0,
        "la": la,
        "lo": lo,
        "al": al,
        "f64": tuple(np.float64(v) for v in (la, lo, al)),
        "empty_rows": np.zeros((0, 3)),
        "empty": np.zeros(0),
        "two_rows": r[:2].copy(),
        "two": tuple(c[:2].copy() for c in (lat, lon, alt)),
    }
    rows = [
        ("orbalis lla_from_pos(r), r of shape (3,)", ns_per_call("e.lla_from_pos(r0)", ns)),
        (
            "orbalis pos_from_lla(lat, lon, alt) floats",
            ns_per_call("e.pos_from_lla(la, lo, al)", ns),
        ),
        ("orbalis pos_from_lla, numpy.float64 scalars", ns_per_call("e.pos_from_lla(*f64)", ns)),
        ("orbalis lla_from_pos, (0, 3) batch", ns_per_call("e.lla_from_pos(empty_rows)", ns)),
        (
            "orbalis pos_from_lla, three (0,) arrays",
            ns_per_call("e.pos_from_lla(empty, empty, empty)", ns),
        ),
        ("orbalis lla_from_pos, (2, 3) batch", ns_per_call("e.lla_from_pos(two_rows)", ns)),
        ("orbalis pos_from_lla, three (2,) arrays", ns_per_call("e.pos_from_lla(*two)", ns)),
    ]
    reference = rows[0][0]
    if pyproj:
        ns["t"] = pyproj.Transformer.from_crs("EPSG:4978", "EPSG:4979")
        ns["x0"], ns["y0"], ns["z0"] = (float(v) for v in r0)
        ns["x1"], ns["y1"], ns["z1"] = (r0[i : i + 1] for i in range(3))
        reference = "pyproj transform, three Python floats"
        rows += [
            (reference, ns_per_call("t.transform(x0, y0, z0)", ns)),
            ("pyproj transform, the (3,) array's items", ns_per_call("t.transform(*r0)", ns)),
            ("pyproj transform, arrays of one point", ns_per_call("t.transform(x1, y1, z1)", ns)),
        ]
    if erfa:
        ns["erfa"], ns["A"], ns["F"] = erfa, A, F
        rows.append(("pyerfa gc2gde, one point", ns_per_call("erfa.gc2gde(A, F, r0)", ns)))
    if pymap3d:
        ns["pymap3d"] = pymap3d
        ns["x0"], ns["y0"], ns["z0"] = (float(v) for v in r0)
        rows.append(
            (
                "pymap3d ecef2geodetic, one point",
                ns_per_call("pymap3d.ecef2geodetic(x0, y0, z0, deg=False)", ns, repeat=3),
            )
        )
    print_table("single-point and small calls", rows, reference, unit="ns/call")
    if pyproj:
        times = dict(rows)
        ratio = times[reference] / times["orbalis lla_from_pos(r), r of shape (3,)"]
        print(f"{'orbalis lla_from_pos(r) vs pyproj on three floats':44s} {ratio:12.2f}x faster")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000)
