"""Command line of orbalis: ``python -m orbalis demo`` runs a short tour on built-in data."""

from __future__ import annotations

import argparse
import math
import sys


def _section(title: str) -> None:
    print(f"\n== {title}")


def demo() -> None:
    """A short tour of what the compiled modules do, on built-in data."""
    import numpy as np

    from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

    _section("WGS-84 ellipsoid")
    wgs84 = Ellipsoid(6378137.0, 1 / 298.257223563)
    print(wgs84)
    print(f"equatorial radius Re = {wgs84.Re:.3f} m, polar radius Rp = {wgs84.Rp:.6f} m")

    _section("Geodetic <-> Cartesian")
    sites = {
        "Paris": (48.8566, 2.3522, 35.0),
        "Quito": (-0.1807, -78.4678, 2850.0),
        "McMurdo": (-77.8419, 166.6863, 10.0),
    }
    lat = np.radians([v[0] for v in sites.values()])
    lon = np.radians([v[1] for v in sites.values()])
    alt = np.array([v[2] for v in sites.values()])
    r = wgs84.pos_from_lla(lat, lon, alt)
    back = wgs84.lla_from_pos(r)
    for name, row, rec in zip(sites, r, back, strict=True):
        lat_deg, lon_deg = math.degrees(rec["lat"]), math.degrees(rec["lon"])
        print(
            f"{name:8s} x={row[0]:14.3f} y={row[1]:14.3f} z={row[2]:14.3f} m  ->  "
            f"lat={lat_deg:9.5f} lon={lon_deg:10.5f} alt={rec['alt']:8.3f} m"
        )

    _demo_optional("Observation from Paris", _observation, wgs84, lat[0], lon[0], alt[0])
    _demo_optional("Two-line element set", _tle)
    _demo_optional(
        "State vector, GCRF -> ITRF, seen from Paris", _state_vector, wgs84, lat[0], lon[0], alt[0]
    )


def _demo_optional(title, func, *args) -> None:
    try:
        func_out = func(*args)
    except (ImportError, AttributeError):
        return  # a module of the tour is not built in this installation
    _section(title)
    for line in func_out:
        print(line)


def _observation(wgs84, lat, lon, alt):
    import numpy as np

    names = ["400 km above Lille", "geostationary, 10 deg E"]
    targets = wgs84.pos_from_lla(
        np.radians([50.63, 0.0]), np.radians([3.06, 10.0]), np.array([400e3, 35786e3])
    )
    aer = wgs84.aer_coords(targets, lat, lon, alt)
    lines = [
        f"{name:24s} azimuth {math.degrees(a['azimuth']):8.3f} deg, elevation "
        f"{math.degrees(a['elevation']):7.3f} deg, range {a['range'] / 1e3:10.3f} km"
        for name, a in zip(names, aer, strict=True)
    ]
    # Looking straight down from the first target meets the ground right below it.
    down = -wgs84.enu(np.radians(50.63), np.radians(3.06))["u_up"][0]
    ground = wgs84.lla_from_pos(wgs84.surf_pos_of_ray_first_intersection(targets[0], down))[0]
    lines.append(
        f"nadir of the first target: lat {math.degrees(ground['lat']):.6f} lon "
        f"{math.degrees(ground['lon']):.6f} alt {ground['alt']:.3e} m"
    )
    return lines


ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)


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
            f"az {math.degrees(a['azimuth']):7.2f} el {math.degrees(a['elevation']):6.2f} deg"
        )
    return lines


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m orbalis", description=__doc__)
    parser.add_argument("command", choices=["demo"], help="what to run")
    parser.parse_args(argv)
    demo()
    return 0


if __name__ == "__main__":
    sys.exit(main())
