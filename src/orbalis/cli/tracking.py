"""``orbalis where`` and ``orbalis passes``: one satellite of a catalogue seen from a site."""

from __future__ import annotations

import argparse
import math
import sys

from . import CommandError

WHERE_HELP = "position of a satellite (and its look angles from a site) at a time"
PASSES_HELP = "passes of a satellite over a ground station"
WHERE_EPILOG = """\
examples:
  orbalis where --tle stations.txt --sat 25544
  orbalis where --tle stations.txt --sat 25544 --at 2024-03-01T12:00:00Z --site=48.8566,2.3522,35

Times are ISO 8601 in UTC (default: now).  The site is geodetic latitude and longitude in
degrees and altitude in metres on WGS-84; write --site=LAT,LON,ALT (with "=") when the
latitude is negative.
"""
PASSES_EPILOG = """\
examples:
  orbalis passes --tle stations.txt --sat 25544 --site=48.8566,2.3522,35
  orbalis passes --tle stations.txt --sat 25544 --site=-77.85,166.69,10 --min-el 10 \\
      --from 2024-03-01 --to 2024-03-03 --plot sky.png

Times are ISO 8601 in UTC (default: the next 24 hours from now).  --plot draws a polar sky
plot of the passes (needs matplotlib: pip install 'orbalis[plot]').
"""


def _site(text: str) -> tuple[float, float, float]:
    parts = text.split(",")
    try:
        lat, lon, alt = (float(p) for p in parts)
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"expected LAT,LON,ALT (degrees, degrees, metres), got {text!r}"
        ) from None
    if not all(math.isfinite(v) for v in (lat, lon, alt)):
        raise argparse.ArgumentTypeError(f"site coordinates must be finite, got {text!r}")
    if not -90.0 <= lat <= 90.0:
        raise argparse.ArgumentTypeError(f"site latitude must lie in [-90, 90], got {lat}")
    return lat, lon, alt


def _common(parser):
    parser.add_argument(
        "--tle",
        required=True,
        metavar="FILE",
        help="catalogue file holding the satellite (- for stdin)",
    )
    parser.add_argument("--sat", required=True, metavar="N", help="catalogue number")


def add_parser(subparsers, name):
    fmt = argparse.RawDescriptionHelpFormatter
    if name == "where":
        parser = subparsers.add_parser(
            name,
            help=WHERE_HELP,
            description=WHERE_HELP + ".",
            epilog=WHERE_EPILOG,
            formatter_class=fmt,
        )
        _common(parser)
        parser.add_argument("--at", metavar="TIME", help="epoch, ISO 8601 UTC (default now)")
        parser.add_argument(
            "--site", type=_site, metavar="LAT,LON,ALT", help="observer: degrees, degrees, metres"
        )
        parser.set_defaults(run=run_where)
    else:
        parser = subparsers.add_parser(
            name,
            help=PASSES_HELP,
            description=PASSES_HELP + ".",
            epilog=PASSES_EPILOG,
            formatter_class=fmt,
        )
        _common(parser)
        parser.add_argument(
            "--site",
            type=_site,
            required=True,
            metavar="LAT,LON,ALT",
            help="observer: degrees, degrees, metres",
        )
        parser.add_argument(
            "--from", dest="start", metavar="TIME", help="start, ISO 8601 UTC (default now)"
        )
        parser.add_argument(
            "--to",
            dest="stop",
            metavar="TIME",
            help="end, ISO 8601 UTC (default 24 hours after the start)",
        )
        parser.add_argument(
            "--min-el",
            type=float,
            default=0.0,
            metavar="DEG",
            help="elevation threshold in degrees (default 0)",
        )
        parser.add_argument("--plot", metavar="PNG", help="draw a polar sky plot to this file")
        parser.set_defaults(run=run_passes)


def _time(text, what):
    from orbalis.time.time import Time

    if text is None:
        return Time.now()
    try:
        return Time(text)
    except (TypeError, ValueError) as exc:
        raise CommandError(f"{what} {text!r} is not an ISO 8601 time: {exc}") from None


def _satellite(path, number):
    """The SGP4 propagator and name of satellite `number` in the catalogue at `path`."""
    from orbalis.propagators.analytical.sgp4 import SGP4

    from .catalogue import read_catalogue

    wanted = number.strip().upper()
    for name, tle in read_catalogue(path):
        try:
            sat = SGP4(tle)
        except ValueError:
            continue  # reported on stderr by the listing command, not needed here
        if str(sat.satnum) == wanted.lstrip("0") or str(tle.satno).upper() == wanted:
            return sat, name
    raise CommandError(f"no satellite {number} in {path}")


def _deg(x, digits):
    from .demo import fixed

    return fixed(math.degrees(x), digits)


def run_where(args) -> int:
    import numpy as np

    sat, name = _satellite(args.tle, args.sat)
    when = _time(args.at, "--at")
    sv, codes = sat.propagate(when, errors=True)
    if int(np.ravel(codes)[0]) != 0:
        raise CommandError(
            f"satellite {sat.satnum} cannot be propagated to {when.iso}: "
            f"model error {int(np.ravel(codes)[0])}"
        )
    itrf = sv.to_frame("ITRF")
    from orbalis.geodesy import WGS84 as wgs84

    lla = wgs84.lla_from_pos(itrf.r)[0]
    label = f"{sat.satnum}" + (f" ({name})" if name else "")
    out = sys.stdout
    out.write(f"satellite  {label}\n")
    out.write(f"time       {np.ravel(when.iso)[0]} UTC\n")
    out.write(f"latitude   {_deg(lla['lat'], 4):>10s} deg\n")
    out.write(f"longitude  {_deg(lla['lon'], 4):>10s} deg\n")
    out.write(f"altitude   {lla['alt'] / 1e3:10.3f} km\n")
    if args.site is not None:
        lat, lon, alt = args.site
        aer = wgs84.aer_coords(itrf.r, math.radians(lat), math.radians(lon), alt)[0]
        out.write(f"azimuth    {_deg(aer['azimuth'] % (2 * math.pi), 4):>10s} deg\n")
        out.write(f"elevation  {_deg(aer['elevation'], 4):>10s} deg\n")
        out.write(f"range      {aer['range'] / 1e3:10.3f} km\n")
    return 0


def _plot_module():
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        raise CommandError("--plot needs matplotlib: pip install 'orbalis[plot]'") from None
    return plt


def sky_plot(path, sat, passes, lat, lon, alt, title):
    """A polar sky plot of `passes`: azimuth around (north up, east right), elevation
    inward (90 deg at the centre), each pass labelled with its rise time."""
    import numpy as np

    plt = _plot_module()
    from orbalis.geodesy import WGS84 as wgs84

    fig = plt.figure(figsize=(6, 6))
    ax = fig.add_subplot(projection="polar")
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rlim(90, 0)
    ax.set_rticks([0, 30, 60, 90])
    for p in passes:
        first = p.rise if p.rise is not None else p.culmination
        last = p.set if p.set is not None else p.culmination
        span = float(last - first)
        when = first + np.linspace(0.0, span, 200)
        itrf = sat.propagate(when).to_frame("ITRF")
        aer = wgs84.aer_coords(itrf.r, lat, lon, alt)
        az, el = aer["azimuth"], np.degrees(aer["elevation"])
        (line,) = ax.plot(az, el, lw=1.5)
        label = p.rise.iso[11:16] if p.rise is not None else "up"
        ax.annotate(label, (az[0], el[0]), fontsize=8, color=line.get_color())
    ax.set_title(title, fontsize=10)
    fig.savefig(path, dpi=100)
    plt.close(fig)


def run_passes(args) -> int:
    from orbalis.observation import find_passes

    if args.plot is not None:
        _plot_module()  # fail before the work, not after it
    sat, name = _satellite(args.tle, args.sat)
    start = _time(args.start, "--from")
    stop = _time(args.stop, "--to") if args.stop is not None else start + 86400.0
    lat, lon, alt = math.radians(args.site[0]), math.radians(args.site[1]), args.site[2]
    try:
        passes = find_passes(
            sat, lat, lon, alt, start, stop, min_elevation=math.radians(args.min_el)
        )
    except ValueError as exc:
        raise CommandError(str(exc)) from None
    out = sys.stdout
    label = f"{sat.satnum}" + (f" ({name})" if name else "")
    out.write(
        f"passes of {label} above {args.min_el:g} deg from "
        f"{args.site[0]:g},{args.site[1]:g},{args.site[2]:g}\n"
    )
    out.write(
        f"{'rise (UTC)':19s}  {'culmination':19s}  {'set':19s}  {'max el':>6s}  "
        f"{'rise az':>7s}  {'set az':>7s}\n"
    )
    for p in passes:
        cells = [t.iso[:19] if t is not None else "-" for t in (p.rise, p.culmination, p.set)]
        raz = _deg(p.rise_azimuth, 1) if p.rise is not None else "-"
        saz = _deg(p.set_azimuth, 1) if p.set is not None else "-"
        out.write(
            f"{cells[0]:19s}  {cells[1]:19s}  {cells[2]:19s}  "
            f"{_deg(p.max_elevation, 1):>6s}  {raz:>7s}  {saz:>7s}\n"
        )
    if not passes:
        out.write("no pass in the interval\n")
    if args.plot is not None:
        sky_plot(
            args.plot, sat, passes, lat, lon, alt, f"{label}: {len(passes)} passes (rise times UTC)"
        )
        out.flush()
        print(f"orbalis: sky plot written to {args.plot}", file=sys.stderr)
    return 0
