"""Speed of orbalis frame transformations on 10^5 epochs (one state per epoch), in ns per state,
beside astropy's GCRS/ITRS/TEME frames and skyfield's TEME_to_ITRF on the same states, with the
largest position difference to each.  Run: python benchmarks/bench_frames.py [N]"""

import sys
import time
import warnings

import numpy as np

from orbalis.frames.frames import GCRF, ITRF, TEME
from orbalis.time.time import Time

N = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000


def states(n):
    rng = np.random.default_rng(1)
    u = rng.normal(size=(n, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    w = np.cross(u, rng.normal(size=(n, 3)))
    w /= np.linalg.norm(w, axis=1)[:, None]
    return u * 6.9e6, w * 7.6e3


def best_of(fn, repeat):
    best, out = np.inf, None
    for _ in range(repeat):
        t0 = time.perf_counter()
        out = fn()
        best = min(best, time.perf_counter() - t0)
    return best, out


def main():
    r, v = states(N)
    t = Time(Time("2024-03-01").jd1 + np.linspace(0.0, 1.0, N), format="jd")  # one day, 0.9 s apart
    t_one = Time("2024-03-01T12:00:00")
    rows = []

    def ours(label, source, target, when, repeat=3):
        sec, out = best_of(lambda: source.transform_to(target, when, r, v), repeat)
        rows.append((label, "orbalis", sec, None))
        return sec, out

    ours_gi, (r_gi, _) = ours("GCRF -> ITRF", GCRF, ITRF, t)
    ours_ti, (r_ti, _) = ours("TEME -> ITRF", TEME, ITRF, t)
    ours("GCRF -> ITRF, one epoch for all rows", GCRF, ITRF, t_one)
    ours("TEME -> GCRF", TEME, GCRF, t)

    try:
        import astropy.units as u
        from astropy.coordinates import (
            GCRS,
            ITRS,
            CartesianDifferential,
            CartesianRepresentation,
        )
        from astropy.coordinates import TEME as ATEME
        from astropy.table import QTable
        from astropy.time import Time as ATime
        from astropy.utils import iers
    except ImportError:
        print("astropy not installed: its rows are skipped")
    else:
        mjd = np.arange(40000.0, 70000.0)
        zero = iers.IERS(QTable({"MJD": mjd * u.d, "UT1_UTC": 0 * mjd * u.s,
                                 "PM_x": 0 * mjd * u.arcsec, "PM_y": 0 * mjd * u.arcsec}))
        with iers.conf.set_temp("auto_download", False), iers.earth_orientation_table.set(zero):
            at = ATime(t.jd1, t.jd2, format="jd", scale="utc")
            rep = CartesianRepresentation(
                r.T * u.m, differentials=CartesianDifferential(v.T * u.m / u.s))
            for label, src, ref in (("GCRF -> ITRF", GCRS, r_gi), ("TEME -> ITRF", ATEME, r_ti)):
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    sec, out = best_of(
                        lambda src=src: src(rep, obstime=at).transform_to(ITRS(obstime=at)), 1)
                diff = np.max(np.abs(out.cartesian.xyz.to_value(u.m).T - ref))
                rows.append((label, "astropy", sec, diff))

    try:
        from skyfield.sgp4lib import TEME_to_ITRF
    except ImportError:
        print("skyfield not installed: its row is skipped")
    else:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            sec, (rs, _) = best_of(lambda: TEME_to_ITRF(t.jd1, r.T / 1e3, v.T * 86.4, 0.0, 0.0,
                                                        fraction_ut1=t.jd2), 3)
        rows.append(("TEME -> ITRF", "skyfield TEME_to_ITRF", sec,
                     np.max(np.abs(rs.T * 1e3 - r_ti))))

    print(f"{N} states, epochs spread over one day (Earth orientation zero)\n")
    print(f"{'transformation':40s} {'implementation':24s} {'ns/state':>10s} {'x orbalis':>10s} "
          f"{'max |dr| (m)':>13s}")
    mine = {label: sec for label, who, sec, _ in rows if who == "orbalis"}
    for label, who, sec, diff in rows:
        ratio = sec / mine[label] if label in mine else float("nan")
        d = "" if diff is None else f"{diff:.2e}"
        print(f"{label:40s} {who:24s} {sec / N * 1e9:10.0f} {ratio:10.2f} {d:>13s}")


if __name__ == "__main__":
    main()
