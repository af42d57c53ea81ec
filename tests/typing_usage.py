"""A typed tour of the public API, checked two ways by test_typing.py.

``mypy --strict`` checks it against the installed stubs: every ``assert_type`` must hold, and
every misuse in ``rejected`` must raise the error its ``type: ignore`` names (an ignore that
no longer matches an error is itself an error under ``--strict``).  Run as a script, it
executes against the compiled package, and ``assert_type`` then checks that each value really
is of the type the stubs claim, which stubtest does not look at.
"""

from __future__ import annotations

import argparse
import datetime
import io
import types
import typing
import warnings
from typing import TYPE_CHECKING, Any, Literal

import numpy as np
from numpy.typing import NDArray

import orbalis
import orbalis.cli
import orbalis.geodesy as pm
from orbalis.datamodel import LLA_dtype
from orbalis.frames import (
    GCRF,
    ITRF,
    TEME,
    EarthOrientationWarning,
    Frame,
    clear_earth_orientation,
    earth_orientation,
    set_earth_orientation,
)
from orbalis.frames.eop import EarthOrientationTable
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
from orbalis.observation import Pass, find_passes
from orbalis.propagators.analytical.sgp4 import (
    SGP4,
    TLEFormatWarning,
    load_tles,
    propagate_catalogue,
)
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.satellite.satellite import Satellite, State, StateVector
from orbalis.time.time import Time

if TYPE_CHECKING:
    from typing_extensions import assert_type
else:

    def _conforms(value, expected):
        """Whether value is an instance of the type expression expected (the subset the
        stubs use: classes, unions, Literal, None, tuple, list, dict, ndarray with dtype)."""
        if expected is Any:
            return True
        if expected is None or expected is type(None):
            return value is None
        origin, args = typing.get_origin(expected), typing.get_args(expected)
        if origin in (typing.Union, types.UnionType):
            return any(_conforms(value, a) for a in args)
        if origin is Literal:
            return value in args
        if origin is tuple:
            if not isinstance(value, tuple):
                return False
            if len(args) == 2 and args[1] is Ellipsis:
                return all(_conforms(v, args[0]) for v in value)
            return len(value) == len(args) and all(map(_conforms, value, args))
        if origin is list:
            return isinstance(value, list) and all(_conforms(v, args[0]) for v in value)
        if origin is dict:
            return isinstance(value, dict) and all(
                _conforms(k, args[0]) and _conforms(v, args[1]) for k, v in value.items()
            )
        if origin is np.ndarray:
            if not isinstance(value, np.ndarray):
                return False
            (scalar,) = typing.get_args(args[1])
            return scalar is Any or issubclass(
                value.dtype.type, typing.get_origin(scalar) or scalar
            )
        return isinstance(value, origin or expected)

    def assert_type(value, expected):
        assert _conforms(value, expected), f"{value!r} is not a {expected}"
        return value


L1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927"
L2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537"
F64 = NDArray[np.float64]
Records = NDArray[np.void]


def ellipsoid_records() -> Ellipsoid:
    wgs84 = Ellipsoid(6378137.0, 1 / 298.257223563)
    assert_type(wgs84.Re, float)
    assert_type(wgs84.Rp, float)
    lat, lon, alt = np.radians([48.8566]), np.radians([2.3522]), np.array([35.0])
    r = assert_type(wgs84.pos_from_lla(lat, lon, alt), F64)
    assert_type(wgs84.pos_from_lla(0.85, 0.04, 35.0), F64)
    lla = assert_type(wgs84.lla_from_pos(r), Records)
    assert lla.dtype == LLA_dtype
    assert_type(lla["lat"], NDArray[Any])
    assert_type(wgs84.reduced_lat_from_geodetic_lat(0.5), float)
    assert_type(wgs84.reduced_lat_from_geodetic_lat(lat), F64)
    assert_type(wgs84.geodetic_lat_from_reduced_lat(np.float64(0.5)), float)
    assert_type(wgs84.enu(0.5, 0.1), Records)
    assert_type(wgs84.surf_pos_from_surf_coord(lat, lon), F64)
    assert_type(wgs84.surf_coord_from_surf_pos(r), Records)
    assert_type(wgs84.solve_reduced_lat_equation(r[0]), float | F64)
    source, down = np.array([7e6, 0.0, 0.0]), np.array([-1.0, 0.0, 0.0])
    assert_type(wgs84.surf_pos_of_ray_first_intersection(source, down), F64)
    return wgs84


class _Chunked:
    """Stands for a lazy array type (a dask array): NumPy reads it, and it has ``compute``."""

    def __init__(self, values: NDArray[np.float64]) -> None:
        self.values_ = values

    def __array__(self, dtype: Any = None, copy: Any = None) -> NDArray[np.float64]:
        return self.values_

    def compute(self, **kwargs: Any) -> NDArray[np.float64]:
        return self.values_


def geodesy() -> None:
    x, y, z = assert_type(
        pm.geodetic2ecef(48.8566, 2.3522, 35.0), tuple[np.float64, np.float64, np.float64]
    )
    lat, lon, alt = pm.ecef2geodetic([x, x], [y, y], np.array([z, z]), ell="GRS80")
    assert_type(lat, F64)
    az, el, srange = pm.geodetic2aer(lat, lon, alt + 400e3, 48.85, 2.35, 0.0, pm.WGS72, deg=True)
    assert_type(srange, F64)
    assert_type(pm.enu2aer(1.0, 2.0, 3.0, deg=False)[0], np.float64)
    assert_type(pm.ecef2ned(x, y, z, 48.8566, 2.3522, 0.0)[2], np.float64)
    assert_type(pm.lookAtSpheroid(48.0, 2.0, 1000.0, [0.0, 90.0], 10.0)[0], F64)
    assert_type(pm.ELLIPSOID_NAMES, tuple[str, ...])
    lazy = _Chunked(np.arange(3.0))  # stands for a dask array or an xarray DataArray
    assert_type(pm.aer2enu(10.0, lazy, 100.0), tuple[Any, Any, Any])


def namespace() -> None:
    """The names of the top-level namespace are the very types of their modules."""
    assert_type(orbalis.WGS84, Ellipsoid)
    assert_type(orbalis.SGP4(orbalis.TLE(L1, L2)), SGP4)
    assert_type(orbalis.Time("2024"), Time)
    assert orbalis.ITRF is ITRF
    assert_type(orbalis.Frame["ITRF"], Frame)
    assert_type(orbalis.geodesy.WGS84.Rp, float)
    assert_type(orbalis.__version__, str)
    assert issubclass(orbalis.StateVector, orbalis.State)


def times() -> Time:
    t = Time("2024-03-01T12:00:00")
    assert_type(t.jd, float | F64)
    assert_type(t.jd1, F64)
    assert_type(t.scale, Literal["utc", "tai", "tt", "tdb", "ut1"])
    assert_type(t.size, int)
    assert_type(t.iso, str | NDArray[np.str_])
    assert_type(t.tai, Time)
    assert_type(t == t.tt, bool | NDArray[np.bool_])
    assert_type(t.to_datetime(), datetime.datetime | NDArray[np.object_])
    many = Time(np.full(3, 2460000.5), np.arange(3) / 24, format="jd")
    assert_type(many[1:], Time)
    assert_type([e for e in many], list[Time])
    assert_type(Time.now(), Time)
    later = assert_type(t + 60.0, Time)
    assert_type(t - datetime.timedelta(minutes=1), Time)
    assert_type(later - t, float | F64)
    assert_type(t + np.arange(0.0, 600.0, 60.0), Time)
    assert_type(np.arange(3.0) + t, Time)
    assert_type(t < later, bool | NDArray[np.bool_])
    assert_type(t.tdb.ut1, Time)
    assert_type(t.to_datetime64(), np.datetime64 | NDArray[np.datetime64])
    dates = [datetime.datetime(2024, 1, 1), datetime.date(2024, 1, 2)]
    assert_type(Time(dates).shape, tuple[int, ...])
    return many


def propagation(wgs84: Ellipsoid, t: Time) -> StateVector:
    tle = TLE(L1, L2)
    assert_type(tle.satno, int | str)
    assert_type(tle.epoch, Time)
    sat = SGP4(tle, gravity="wgs72", opsmode="i")
    assert_type(sat.inclination, float)
    assert_type(sat.epoch, Time)
    sv = assert_type(sat.propagate(t), StateVector)
    _, codes = assert_type(sat.propagate(t, errors=True), tuple[StateVector, NDArray[np.uint8]])
    assert_type(sat.propagate_minutes(90.0), tuple[F64, F64, int])
    assert_type(sat.propagate_minutes(np.arange(3.0)), tuple[F64, F64, NDArray[np.uint8]])
    r, v, codes = propagate_catalogue([tle, sat], t, threads=1)
    assert_type(codes, NDArray[np.uint8])
    assert_type(sv.time, Time)
    assert_type(sv.frame, Frame)
    itrf = assert_type(sv.to_frame("ITRF"), StateVector)
    assert_type(sv.to_frame(ITRF).r, F64)
    assert_type(sv.GCRF, StateVector)
    assert_type(itrf == itrf, bool | np.bool_)
    aer = wgs84.aer_coords(itrf.r, np.radians(48.85), np.radians(2.35), 35.0)
    assert_type(aer, Records)
    assert_type(TEME.transform_to(GCRF, t, sv.r, sv.v), tuple[F64, F64])
    assert_type(Frame["TEME"], Frame)
    assert_type(Frame.names(), tuple[str, ...])
    assert_type(earth_orientation(t), dict[str, F64])
    set_earth_orientation([60000.0, 60001.0], 0.1, 0.0, 0.0)
    set_earth_orientation(None)
    clear_earth_orientation()
    table = EarthOrientationTable([60000.0, 60001.0], 0.1, 0.0, 0.0, 0.0, "typed tour")
    assert_type(table.span, tuple[float, float])
    assert issubclass(EarthOrientationWarning, UserWarning)
    made = StateVector(t, np.zeros((t.size, 3)), np.zeros((t.size, 3)), "GCRF")
    assert_type(made.v, F64)
    assert_type(State().frame, Frame | None)
    s = Satellite()
    s.time = "2024-03-01"
    assert_type(s.time, Time | None)
    return sv


def passes(wgs84: Ellipsoid) -> None:
    tle = TLE(L1, L2)
    start = tle.epoch
    found = find_passes(tle, 0.85, 0.04, 35.0, start, start + 86400.0, min_elevation=0.17)
    for p in assert_type(found, list[Pass]):
        assert_type(p.rise, Time | None)
        assert_type(p.max_elevation, float)
        assert_type(p.set_azimuth, float | None)
    assert found, "the station sees passes in a day"
    assert_type(
        find_passes(SGP4(tle), 0.85, 0.04, 0.0, start, "2008-09-21", ellipsoid=wgs84), list[Pass]
    )


def catalogues() -> None:
    text = io.StringIO(f"ISS (ZARYA)\n{L1}\n{L2}\n")
    for name, tle in assert_type(load_tles(text), list[tuple[str | None, TLE]]):
        assert_type(name, str | None)
        assert_type(tle.line1, str)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", TLEFormatWarning)
        assert load_tles([L1, L2[:-1] + "0"]) == []
    assert_type(orbalis.cli.build_parser(), argparse.ArgumentParser)


def rejected(wgs84: Ellipsoid, sv: StateVector, t: Time) -> None:
    """Misuses the stubs refuse (never called)."""
    wgs84.pos_from_lla(0.1, np.zeros(3), 0.3)  # type: ignore[call-overload]
    wgs84.Re = 1.0  # type: ignore[misc]
    sv < sv  # type: ignore[operator]  # noqa: B015
    sv.to_frame(3)  # type: ignore[arg-type]
    TLE(1, 2)  # type: ignore[arg-type]
    SGP4(TLE(L1, L2), gravity="WGS-84")  # type: ignore[arg-type]
    load_tles(b"tles.txt")  # type: ignore[arg-type]
    t.scale = "tai"  # type: ignore[misc]
    Satellite(t)  # type: ignore[call-arg]
    t < 5.0  # type: ignore[operator]  # noqa: B015
    5.0 - t  # type: ignore[operator]  # noqa: B018
    t + t  # type: ignore[operator]  # noqa: B018
    set_earth_orientation([60000.0, 60001.0], 0.1)  # type: ignore[call-overload]
    find_passes("ISS", 0.85, 0.04, 35.0, t, t)  # type: ignore[arg-type]
    pm.geodetic2ecef(48.0, 2.0, 0.0, ell=6378137.0)  # type: ignore[call-overload]
    orbalis.find_pass  # type: ignore[attr-defined]  # noqa: B018


if __name__ == "__main__":
    wgs84 = ellipsoid_records()
    geodesy()
    namespace()
    t = times()
    propagation(wgs84, t)
    passes(wgs84)
    catalogues()
    print("ok")
