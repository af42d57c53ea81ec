"""``orbalis demo``: a short tour of the package on built-in data."""

from __future__ import annotations

import math

HELP = "a short tour of the package on built-in data"

ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
PARIS = (48.8566, 2.3522, 35.0)  # degrees, degrees, metres


def add_parser(subparsers, name):
    import argparse

    parser = subparsers.add_parser(
        name,
        help=HELP,
        description=HELP + ".",
        epilog="example:\n  orbalis demo | less",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.set_defaults(run=run)


def fixed(x: float, digits: int) -> str:
    """`x` with `digits` decimals, never printed as -0.000 (a rounding residue is not a sign)."""
    return f"{round(float(x), digits) + 0.0:.{digits}f}"


def _section(title: str) -> None:
    print(f"\n== {title}")


def run(args) -> int:
    import numpy as np

    from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

    _section("WGS-84 ellipsoid")
    wgs84 = Ellipsoid(6378137.0, 1 / 298.257223563)
    print(wgs84)
    print(f"equatorial radius Re = {wgs84.Re:.3f} m, polar radius Rp = {wgs84.Rp:.6f} m")

    _section("Geodetic <-> Cartesian")
    sites = {
        "Paris": PARIS,
        "Quito": (-0.1807, -78.4678, 2850.0),
        "McMurdo": (-77.8419, 166.6863, 10.0),
    }
    lat = np.radians([v[0] for v in sites.values()])
    lon = np.radians([v[1] for v in sites.values()])
    alt = np.array([v[2] for v in sites.values()])
    r = wgs84.pos_from_lla(lat, lon, alt)
    back = wgs84.lla_from_pos(r)
    for name, row, rec in zip(sites, r, back, strict=True):
        print(
            f"{name:8s} x={row[0]:14.3f} y={row[1]:14.3f} z={row[2]:14.3f} m  ->  "
            f"lat={fixed(math.degrees(rec['lat']), 5):>9s} "
            f"lon={fixed(math.degrees(rec['lon']), 5):>10s} alt={fixed(rec['alt'], 3):>8s} m"
        )
    station = (lat[0], lon[0], alt[0])

    _section("Observation from Paris")
    for line in _observation(wgs84, *station):
        print(line)
    _section("Two-line element set")
    for line in _tle():
        print(line)
    _section("State vector, GCRF -> ITRF, seen from Paris")
    for line in _state_vector(wgs84, *station):
        print(line)
    _section("SGP4 propagation of the ISS set, seen from Paris")
    for line in _propagation(wgs84, *station):
        print(line)
    _section("Passes of the ISS over Paris on the day after its epoch")
    for line in _passes(*station):
        print(line)
    return 0


def _observation(wgs84, lat, lon, alt):
    import numpy as np

    names = ["400 km above Lille", "geostationary, 10 deg E"]
    targets = wgs84.pos_from_lla(
        np.radians([50.63, 0.0]), np.radians([3.06, 10.0]), np.array([400e3, 35786e3])
    )
    aer = wgs84.aer_coords(targets, lat, lon, alt)
    lines = [
        f"{name:24s} azimuth {fixed(math.degrees(a['azimuth']), 3):>8s} deg, elevation "
        f"{fixed(math.degrees(a['elevation']), 3):>7s} deg, range "
        f"{fixed(a['range'] / 1e3, 3):>10s} km"
        for name, a in zip(names, aer, strict=True)
    ]
    # Looking straight down from the first target meets the ground right below it.
    down = -wgs84.enu(np.radians(50.63), np.radians(3.06))["u_up"][0]
    ground = wgs84.lla_from_pos(wgs84.surf_pos_of_ray_first_intersection(targets[0], down))[0]
    lines.append(
        f"nadir of the first target: lat {fixed(math.degrees(ground['lat']), 6)} lon "
        f"{fixed(math.degrees(ground['lon']), 6)} alt {fixed(ground['alt'], 3)} m"
    )
    return lines


def _tle():
    from orbalis.propagators.analytical.sgp4.tle import TLE

    tle = TLE(*ISS)
    return [ISS[0], ISS[1], f"satellite number {tle.satno}, epoch {tle.epoch}"]


def _state_vector(wgs84, lat, lon, alt):
    import numpy as np

    from orbalis.satellite.satellite import StateVector
    from orbalis.time.time import Time

    epochs = Time(["2024-03-01T12:00:00", "2024-03-01T12:05:00"])
    r = np.array([[4100e3, 500e3, 5300e3], [3000e3, 2400e3, 5800e3]])
    v = np.array([[-5600.0, 3900.0, 3900.0], [-6100.0, 3400.0, 2500.0]])
    sv = StateVector(epochs, r, v, "GCRF")
    itrf = sv.to_frame("ITRF")
    aer = wgs84.aer_coords(itrf.r, lat, lon, alt)
    lines = [repr(sv)]
    for when, row, a in zip(epochs.iso, itrf.r, aer, strict=True):
        lines.append(
            f"{when}  ITRF [{row[0] / 1e3:9.2f} {row[1] / 1e3:9.2f} {row[2] / 1e3:9.2f}] km  "
            f"az {fixed(math.degrees(a['azimuth']), 2):>7s} "
            f"el {fixed(math.degrees(a['elevation']), 2):>6s} deg"
        )
    return lines


def _propagation(wgs84, lat, lon, alt):
    import numpy as np

    from orbalis.propagators.analytical.sgp4 import SGP4
    from orbalis.propagators.analytical.sgp4.tle import TLE

    sat = SGP4(TLE(*ISS))
    when = sat.epoch + np.arange(0.0, 3600.0, 900.0)
    itrf = sat.propagate(when).to_frame("ITRF")
    lla = wgs84.lla_from_pos(itrf.r)
    aer = wgs84.aer_coords(itrf.r, lat, lon, alt)
    lines = [f"{sat!r}"]
    for iso, g, a in zip(when.iso, lla, aer, strict=True):
        lines.append(
            f"{iso}  lat {fixed(math.degrees(g['lat']), 3):>8s} lon "
            f"{fixed(math.degrees(g['lon']), 3):>8s} alt {fixed(g['alt'] / 1e3, 1):>6s} km  "
            f"el {fixed(math.degrees(a['elevation']), 1):>5s} deg"
        )
    return lines


def _passes(lat, lon, alt):
    from orbalis.observation import find_passes
    from orbalis.propagators.analytical.sgp4 import SGP4
    from orbalis.propagators.analytical.sgp4.tle import TLE

    sat = SGP4(TLE(*ISS))
    start = sat.epoch + 86400.0 - (sat.epoch.jd2 + 0.5) % 1.0 * 86400.0  # next UTC midnight
    passes = find_passes(sat, lat, lon, alt, start, start + 86400.0)
    lines = [f"{'rise':19s}  {'culmination':19s}  {'set':19s}  max el"]
    for p in passes:
        cells = [t.iso[:19] if t is not None else "-" for t in (p.rise, p.culmination, p.set)]
        lines.append(
            f"{cells[0]:19s}  {cells[1]:19s}  {cells[2]:19s}  "
            f"{fixed(math.degrees(p.max_elevation), 1):>5s} deg"
        )
    if not passes:
        lines.append("no pass above the horizon")
    return lines
