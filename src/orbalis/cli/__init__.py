"""The orbalis command line: ``orbalis`` (or ``python -m orbalis``) and its subcommands.

Each subcommand lives in a module of this package that provides ``add_parser(subparsers)``
and a ``run(args)`` returning the exit status.  Results go to stdout and diagnostics to
stderr.  Exit status: 0 success, 1 the work failed (bad data, nothing read), 2 bad usage,
130 interrupted by Ctrl-C, 141 output pipe closed (as a shell reports SIGPIPE).
"""

from __future__ import annotations

import argparse
import os
import sys
from importlib import import_module

# Subcommand modules, imported only when their subcommand runs so that `orbalis --help`
# stays quick.
_COMMANDS = ("demo", "tle", "convert", "where", "passes")
_MODULE_OF = {
    "demo": "demo",
    "tle": "catalogue",
    "convert": "convert",
    "where": "tracking",
    "passes": "tracking",
}

EPILOG = """\
examples:
  orbalis demo
  orbalis tle stations.txt --csv
  orbalis convert ecef2geodetic points.csv > geodetic.csv
  orbalis where --tle stations.txt --sat 25544 --site=48.8566,2.3522,35
  orbalis passes --tle stations.txt --sat 25544 --site=48.8566,2.3522,35 --min-el 10

Run `orbalis COMMAND --help` for the options of each command.
"""


class CommandError(Exception):
    """A failure to report on stderr as ``orbalis COMMAND: error: ...`` (exit status 1)."""


def _version() -> str:
    from orbalis import __version__

    return __version__


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="orbalis",
        description="Satellite geometry from the command line: ellipsoid conversions, TLE "
        "catalogues, positions and passes over a ground station.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"orbalis {_version()}")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name in _COMMANDS:
        import_module(f"orbalis.cli.{_MODULE_OF[name]}").add_parser(subparsers, name)
    return parser


def _quiet_stdout() -> None:
    # Python flushes stdout again at exit; pointing it at /dev/null keeps that flush from
    # raising a second BrokenPipeError.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass


def main(argv: list[str] | None = None) -> int:
    """Run the command line with `argv` (default ``sys.argv[1:]``); returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        status = args.run(args)
        sys.stdout.flush()
        return status
    except BrokenPipeError:
        _quiet_stdout()
        return 141
    except KeyboardInterrupt:
        print(file=sys.stderr)
        return 130
    except CommandError as exc:
        print(f"orbalis {args.command}: error: {exc}", file=sys.stderr)
        return 1


def console_main() -> None:
    """Entry point of the ``orbalis`` console script."""
    sys.exit(main())
