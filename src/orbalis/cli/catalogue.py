"""``orbalis tle``: list a TLE catalogue, one line per set, as a table, CSV or JSON."""

from __future__ import annotations

import argparse
import csv
import json
import math
import sys
import warnings

from . import CommandError

HELP = "list the sets of a TLE catalogue"
EPILOG = """\
examples:
  orbalis tle stations.txt
  orbalis tle stations.txt --csv > stations.csv
  cat active.txt | orbalis tle - --json

Columns: name, catalogue number, epoch (ISO 8601, UTC), inclination (deg), period (min),
perigee and apogee altitude (km, two-body from the mean motion, WGS-72 constants).
Malformed sets are reported on stderr with their line numbers and skipped; the exit status
is 0 when any set was read and 1 when none was.
"""

# WGS-72, the constants the element sets are fitted with.
MU_KM3_S2 = 398600.8  # gravitational parameter, km^3/s^2
EARTH_RADIUS_KM = 6378.135  # equatorial radius, km

FIELDS = ("name", "satnum", "epoch", "inclination_deg", "period_min", "perigee_km", "apogee_km")
HEADINGS = ("name", "number", "epoch (UTC)", "incl deg", "period min", "perigee km", "apogee km")


def add_parser(subparsers, name):
    parser = subparsers.add_parser(
        name,
        help=HELP,
        description=HELP + ".",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("file", metavar="FILE|-", help="catalogue file, or - for stdin")
    style = parser.add_mutually_exclusive_group()
    style.add_argument("--csv", action="store_true", help="write CSV instead of a table")
    style.add_argument("--json", action="store_true", help="write a JSON array of objects")
    parser.set_defaults(run=run)


def read_catalogue(path: str):
    """The (name, TLE) pairs of `path` ("-" for stdin); malformed sets are reported on
    stderr and skipped."""
    from orbalis.propagators.analytical.sgp4 import TLEFormatWarning, load_tles

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", TLEFormatWarning)
        try:
            sets = load_tles(sys.stdin if path == "-" else path)
        except OSError as exc:
            raise CommandError(f"cannot read {path}: {exc.strerror or exc}") from None
        except UnicodeDecodeError as exc:
            raise CommandError(f"{path} is not a text file: {exc}") from None
    where = "stdin" if path == "-" else path
    for w in caught:
        if issubclass(w.category, TLEFormatWarning):
            print(f"orbalis: {where}: {w.message}", file=sys.stderr)
        else:
            warnings.warn_explicit(w.message, w.category, w.filename, w.lineno)
    return sets


def describe(name, tle) -> dict:
    """The listed quantities of one set."""
    from orbalis.propagators.analytical.sgp4 import SGP4

    sat = SGP4(tle)
    n = sat.mean_motion / 60.0  # rad/s
    a = (MU_KM3_S2 / (n * n)) ** (1.0 / 3.0)
    e = sat.eccentricity
    return {
        "name": name,
        "satnum": sat.satnum,
        "epoch": sat.epoch.iso,
        "inclination_deg": round(math.degrees(sat.inclination), 4),
        "period_min": round(2.0 * math.pi / sat.mean_motion, 3),
        "perigee_km": round(a * (1.0 - e) - EARTH_RADIUS_KM, 1),
        "apogee_km": round(a * (1.0 + e) - EARTH_RADIUS_KM, 1),
    }


def run(args) -> int:
    rows = []
    for name, tle in read_catalogue(args.file):
        try:
            rows.append(describe(name, tle))
        except ValueError as exc:
            print(f"orbalis: satellite {tle.satno}: {exc}", file=sys.stderr)
    out = sys.stdout
    if args.json:
        json.dump(rows, out, indent=1)
        out.write("\n")
    elif args.csv:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(FIELDS)
        for row in rows:
            writer.writerow(row[f] for f in FIELDS)
    else:
        cells = [
            [("" if row["name"] is None else row["name"]), str(row["satnum"]), row["epoch"][:23]]
            + [f"{row[f]:.{d}f}" for f, d in zip(FIELDS[3:], (4, 3, 1, 1), strict=True)]
            for row in rows
        ]
        widths = [max([len(h)] + [len(c[i]) for c in cells]) for i, h in enumerate(HEADINGS)]
        left = 3  # name, number and epoch are left-aligned, numbers right-aligned

        def line(values):
            return "  ".join(
                v.ljust(w) if i < left else v.rjust(w)
                for i, (v, w) in enumerate(zip(values, widths, strict=True))
            )

        out.write(line(HEADINGS).rstrip() + "\n")
        for c in cells:
            out.write(line(c).rstrip() + "\n")
    return 0 if rows else 1
