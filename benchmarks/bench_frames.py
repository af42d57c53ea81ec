"""Speed of orbalis frame transformations, in ns per state, beside astropy's GCRS/ITRS/TEME
frames and skyfield's TEME_to_ITRF on the same states, with the largest position difference to
each.  Every library uses its bundled IERS Earth orientation data (astropy offline, reading the
same astropy-iers-data tables); the orbalis rows with zero Earth orientation show what the data
costs.  Three cases:

- 10^6 states at one epoch (a state vector whose rows share one epoch, and one Time for all);
- 10^5 states at distinct epochs spread over a year;
- 10^5 states at distinct epochs within one day.

Run: python benchmarks/bench_frames.py [scale]   (scale < 1 shrinks every case)
"""

import socket
import sys
import warnings

import numpy as np
from _harness import ns_per_item, print_table

from orbalis.frames import frames
from orbalis.frames.frames import GCRF, ITRF, TEME
from orbalis.satellite.satellite import StateVector
from orbalis.time.time import Time

SCALE = float(sys.argv[1]) if len(sys.argv) > 1 else 1.0
ASTROPY_STATES = 4000


def states(n, radius=6.9e6):
    rng = np.random.default_rng(1)
    u = rng.normal(size=(n, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    w = np.cross(u, rng.normal(size=(n, 3)))
    w /= np.linalg.norm(w, axis=1)[:, None]
    return u * radius, w * np.sqrt(3.986004418e14 / radius)


def offline_astropy():
    """astropy's frames on the bundled IERS tables only, or None when astropy is missing."""
    try:
        import astropy.units as u
        from astropy.coordinates import GCRS, ITRS, CartesianDifferential, CartesianRepresentation
        from astropy.coordinates import TEME as ATEME
        from astropy.time import Time as ATime
        from astropy.utils import iers
    except ImportError:
        print("astropy not installed: its rows are skipped")
        return None

    def refuse(*args, **kwargs):
        raise OSError("network disabled for the benchmark")

    socket.socket.connect = refuse
    socket.create_connection = refuse
    iers.conf.auto_download = False
    iers.conf.auto_max_age = None

    def to_itrs(src, t, r, v):
        at = ATime(t.jd1, t.jd2, format="jd", scale="utc")
        rep = CartesianRepresentation(
            r.T * u.m, differentials=CartesianDifferential(v.T * u.m / u.s)
        )
        frame = {"GCRF": GCRS, "TEME": ATEME}[src.name]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            out = frame(rep, obstime=at).transform_to(ITRS(obstime=at))
        return out.cartesian.xyz.to_value(u.m).T

    return to_itrs


def skyfield_teme_to_itrf():
    try:
        from skyfield.sgp4lib import TEME_to_ITRF
    except ImportError:
        print("skyfield not installed: its rows are skipped")
        return None

    def run(t, r, v):
        # skyfield takes km and km/day, UT1 as a two-part Julian date and one pole position
        # (radians) for all epochs: the middle epoch's, which the comparison also gives orbalis
        ut1 = t.ut1
        xp, yp = pole_of(t)
        rs, _ = TEME_to_ITRF(ut1.jd1, r.T / 1e3, v.T * 86.4, xp, yp, fraction_ut1=ut1.jd2)
        return rs.T * 1e3

    return run


def pole_of(t):
    eo = frames.earth_orientation(t[t.size // 2])
    return float(eo["xp"][0]), float(eo["yp"][0])


def case(title, n, t, astropy_to_itrs, skyfield_run, one_epoch=None):
    r, v = states(n)
    rows, diffs = [], []
    repeat = 3 if n <= 100_000 else 2
    frames.clear_earth_orientation()
    ref = {}
    for src in (GCRF, TEME):
        label = f"orbalis {src.name} -> ITRF"
        rows.append(
            (label, ns_per_item(lambda src=src: src.transform_to(ITRF, t, r, v), n, repeat, 0.0))
        )
        ref[src.name] = src.transform_to(ITRF, t, r, v)[0]
        if t.size == n:
            sv = StateVector(t, r, v, frame=src)
            rows.append(
                (
                    f"  StateVector.to_frame({src.name} -> ITRF)",
                    ns_per_item(lambda sv=sv: sv.to_frame(ITRF), n, repeat, 0.0),
                )
            )
        if one_epoch is not None:
            rows.append(
                (
                    f"  one Time for all rows ({src.name})",
                    ns_per_item(
                        lambda src=src: src.transform_to(ITRF, one_epoch, r, v), n, repeat, 0.0
                    ),
                )
            )
    frames.set_earth_orientation(None)
    for src in (GCRF, TEME):
        rows.append(
            (
                f"  zero Earth orientation ({src.name})",
                ns_per_item(lambda src=src: src.transform_to(ITRF, t, r, v), n, repeat, 0.0),
            )
        )
    frames.clear_earth_orientation()
    if astropy_to_itrs is not None:
        # astropy takes about a millisecond per GCRS epoch: it runs on every k-th state
        k = max(1, n // ASTROPY_STATES)
        ts, rs, vs = t[::k], r[::k], v[::k]
        for src in (GCRF, TEME):
            rows.append(
                (
                    f"astropy {src.name} -> ITRS (every {k}th state)",
                    ns_per_item(
                        lambda src=src: astropy_to_itrs(src, ts, rs, vs), rs.shape[0], 1, 0.0
                    ),
                )
            )
            diffs.append(
                (f"astropy {src.name}", astropy_to_itrs(src, ts, rs, vs), ref[src.name][::k])
            )
    if skyfield_run is not None:
        rows.append(
            ("skyfield TEME_to_ITRF", ns_per_item(lambda: skyfield_run(t, r, v), n, 1, 0.0))
        )
        xp, yp = pole_of(t)
        same = TEME.transform_to(ITRF, t, r, v, xp=xp, yp=yp)[0]
        diffs.append(("skyfield TEME (its one pole position)", skyfield_run(t, r, v), same))
    print_table(
        f"{title} ({n} states)", rows, "orbalis GCRF -> ITRF", unit="ns/state", label_width=48
    )
    for label, theirs, ours in diffs:
        dr = np.max(np.linalg.norm(theirs - ours, axis=1))
        print(f"  max |dr| orbalis vs {label}: {dr * 1e3:.2e} mm")


def main():
    astropy_to_itrs = offline_astropy()
    skyfield_run = skyfield_teme_to_itrf()
    day = Time("2024-03-01").jd1
    n6, n5 = int(1_000_000 * SCALE), int(100_000 * SCALE)
    when = day + 0.3
    case(
        "One epoch for every row",
        n6,
        Time(np.full(n6, when), format="jd"),
        None,
        None,
        one_epoch=Time(when, format="jd"),
    )
    case(
        "Distinct epochs over a year",
        n5,
        Time(day + np.linspace(0.0, 365.0, n5), format="jd"),
        astropy_to_itrs,
        skyfield_run,
    )
    case(
        "Distinct epochs within a day",
        n5,
        Time(day + np.linspace(0.0, 1.0, n5), format="jd"),
        astropy_to_itrs,
        skyfield_run,
    )


if __name__ == "__main__":
    main()
