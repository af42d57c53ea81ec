"""``orbalis convert``: stream CSV rows between ECEF and geodetic coordinates.

The input is read in chunks of rows, each converted by one call of the vectorised
``orbalis.geodesy`` functions, so memory stays bounded whatever the length of the input.
Every input column is written out unchanged, followed by the converted columns; numbers are
written in Python's shortest round-trip form, so no digit is lost.
"""

from __future__ import annotations

import argparse
import csv
import itertools
import sys

import numpy as np

from . import CommandError

HELP = "convert CSV rows between ECEF (x,y,z) and geodetic (lat,lon,alt) coordinates"
EPILOG = """\
examples:
  orbalis convert ecef2geodetic points.csv > geodetic.csv
  orbalis convert geodetic2ecef --rad --ellipsoid grs80 sites.csv
  cat points.csv | orbalis convert ecef2geodetic --xyz X,Y,Z --a 6378137 --f 0.0033528 -

The first line of the input names the columns; x, y, z and alt are in metres, lat and lon in
degrees (or radians with --rad).  The output repeats every input column and appends the
converted ones.  A malformed row stops the conversion with its line number (exit status 1).
"""

CHUNK_ROWS = 65536
DIRECTIONS = {
    # direction: (names option read, names option written)
    "ecef2geodetic": ("xyz", "lla"),
    "geodetic2ecef": ("lla", "xyz"),
}


def _names(text: str) -> list[str]:
    names = [n.strip() for n in text.split(",")]
    if len(names) != 3 or not all(names):
        raise argparse.ArgumentTypeError(f"expected three column names, got {text!r}")
    return names


def add_parser(subparsers, name):
    parser = subparsers.add_parser(
        name,
        help=HELP,
        description=HELP + ".",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("direction", choices=sorted(DIRECTIONS))
    parser.add_argument(
        "file",
        metavar="FILE|-",
        nargs="?",
        default="-",
        help="input CSV file, or - for stdin (the default)",
    )
    parser.add_argument(
        "--xyz",
        type=_names,
        default=["x", "y", "z"],
        metavar="X,Y,Z",
        help="names of the ECEF columns (default x,y,z)",
    )
    parser.add_argument(
        "--lla",
        type=_names,
        default=["lat", "lon", "alt"],
        metavar="LAT,LON,ALT",
        help="names of the geodetic columns (default lat,lon,alt)",
    )
    unit = parser.add_mutually_exclusive_group()
    unit.add_argument(
        "--deg",
        dest="deg",
        action="store_true",
        default=True,
        help="latitude and longitude in degrees (the default)",
    )
    unit.add_argument("--rad", dest="deg", action="store_false", help="... in radians")
    parser.add_argument(
        "--ellipsoid", metavar="NAME", help="ellipsoid by name, case-insensitive (default wgs84)"
    )
    parser.add_argument("--a", type=float, metavar="METRES", help="semi-major axis, with --f")
    parser.add_argument("--f", type=float, metavar="FLATTENING", help="flattening, with --a")
    parser.set_defaults(run=run, late_positional="file")


def _ellipsoid(args):
    """The ellipsoid of the options as geodesy takes it, resolved and checked before any input
    is read (None for the default, WGS-84)."""
    from orbalis.geodesy import _axes

    if (args.a is None) != (args.f is None):
        raise CommandError("--a and --f go together")
    if args.a is not None and args.ellipsoid is not None:
        raise CommandError("give either --ellipsoid or --a/--f, not both")
    if args.a is None and args.ellipsoid is None:
        return None
    if args.a is not None:
        from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

        try:
            ell = Ellipsoid(args.a, args.f)
            _axes(ell)
        except (ValueError, AssertionError) as exc:
            raise CommandError(f"--a {args.a} --f {args.f} is not an ellipsoid: {exc}") from None
        return ell
    try:
        _axes(args.ellipsoid)
    except ValueError as exc:
        raise CommandError(str(exc)) from None
    return args.ellipsoid


def _progress(stream):
    if not sys.stderr.isatty():
        return None
    from tqdm import tqdm

    name = "stdin" if stream is sys.stdin else getattr(stream, "name", "input")
    return tqdm(desc=f"converting {name}", unit=" rows", unit_scale=True, file=sys.stderr)


def _columns(chunk, index, first_line):
    """Three float64 columns from the CSV lines of `chunk`; CommandError naming the first bad
    row.  Plain lines are split natively; a chunk holding quoted fields goes through the csv
    module."""
    from ._csv import read_columns

    try:
        columns = read_columns(chunk, index, first_line)
        if columns is not None:
            return columns
        width = max(index) + 1
        values = [[], [], []]
        line = first_line
        for record in chunk:
            (row,) = csv.reader([record])
            if len(row) < width:
                raise ValueError(f"line {line}: expected at least {width} fields, got {len(row)}")
            for column, i in zip(values, index, strict=True):
                try:
                    column.append(float(row[i]))
                except ValueError:
                    raise ValueError(f"line {line}: {row[i]!r} is not a number") from None
            line += record.count("\n")
        return tuple(np.array(v, dtype=np.float64) for v in values)
    except (ValueError, csv.Error) as exc:
        raise CommandError(str(exc)) from None


def _records(lines, stream):
    """`lines` joined into CSV records: a quoted field may hold line breaks, so a line that
    leaves a quote open runs on into the next (read from `stream` past the chunk's end)."""
    records = []
    pending = ""
    for line in itertools.chain(lines, iter(stream.readline, "")):
        pending += line
        if pending.count('"') % 2 == 0:
            records.append(pending)
            pending = ""
            if len(records) >= len(lines):
                break
    if pending:
        records.append(pending)  # an unclosed quote at the end: csv reports it
    return records


def _segments(records, first_line):
    """(first line number, records) runs of `records` between blank lines, which carry no
    row and are dropped."""
    blank = [i for i, r in enumerate(records) if not r.strip()]
    if not blank:
        yield first_line, records
        return
    line, start = first_line, 0
    for stop in [*blank, len(records)]:
        if stop > start:
            yield line, records[start:stop]
        line += sum(r.count("\n") for r in records[start : stop + 1])
        start = stop + 1


def run(args) -> int:
    from orbalis import geodesy

    from ._csv import append_columns

    read_names, write_names = (getattr(args, n) for n in DIRECTIONS[args.direction])
    convert = getattr(geodesy, args.direction)
    ell = _ellipsoid(args)
    try:
        stream = sys.stdin if args.file == "-" else open(args.file, newline="")  # noqa: SIM115
    except OSError as exc:
        raise CommandError(f"cannot read {args.file}: {exc.strerror or exc}") from None
    with stream:
        header_line = stream.readline()
        if not header_line.strip():
            raise CommandError("the input is empty: expected a header line naming the columns")
        header = next(csv.reader([header_line]))
        missing = [n for n in read_names if n not in header]
        if missing:
            raise CommandError(
                f"no column {', '.join(map(repr, missing))} in the header {','.join(header)!r}"
            )
        clash = [n for n in write_names if n in header]
        if clash:
            raise CommandError(
                f"the input already has a column {clash[0]!r}; name the "
                "converted columns with --xyz or --lla"
            )
        index = tuple(header.index(n) for n in read_names)
        out = sys.stdout
        out.write(header_line.rstrip("\r\n") + "," + ",".join(write_names) + "\n")
        bar = _progress(stream)
        line_number = 2  # of the first line after the header
        try:
            while True:
                lines = list(itertools.islice(stream, CHUNK_ROWS))
                if not lines:
                    break
                if any('"' in line for line in lines):
                    lines = _records(lines, stream)
                for first, rows in _segments(lines, line_number):
                    a, b, c = _columns(rows, index, first)
                    out.write(append_columns(rows, *convert(a, b, c, ell=ell, deg=args.deg)))
                    if bar is not None:
                        bar.update(len(rows))
                line_number += sum(line.count("\n") for line in lines)
        finally:
            if bar is not None:
                bar.close()
    return 0
