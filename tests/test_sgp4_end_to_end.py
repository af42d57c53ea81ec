"""The whole path inside orbalis: a TLE, SGP4 state vectors in TEME, ITRF, then azimuth,
elevation and range from a ground station, against skyfield's topocentric look angles computed
with the same UT1 - UTC and polar motion."""

import numpy as np
import pytest

from orbalis.frames import frames
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
from orbalis.propagators.analytical.sgp4 import SGP4
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.time.time import Time

ARCSEC = np.pi / 648000.0
ISS1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927"
ISS2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537"
DUT1, XP, YP = -0.3, 0.2, 0.35  # UT1 - UTC in s; pole coordinates in arcseconds
TAI_UTC_2008 = 33.0  # s
STATIONS = {"paris": (48.85, 2.35, 35.0), "cape-town": (-33.92, 18.42, 10.0)}


@pytest.fixture
def earth_orientation():
    """Installs a constant table for the test only, then returns to the bundled default."""
    frames.set_earth_orientation([54700.0, 54800.0], DUT1, XP * ARCSEC, YP * ARCSEC)
    yield
    frames.clear_earth_orientation()


@pytest.mark.parametrize("station", STATIONS.values(), ids=STATIONS.keys())
def test_iss_look_angles_over_a_day_match_skyfield(station, earth_orientation):
    skyfield = pytest.importorskip("skyfield.api")
    lat, lon, alt = station

    # a day from the epoch's UTC midnight at 30 s steps
    n = 2880
    t = Time(np.full(n, 2454729.5), np.arange(n) * 30.0 / 86400.0, format="jd")
    itrf = SGP4(TLE(ISS1, ISS2)).propagate(t).to_frame("ITRF")
    wgs84 = Ellipsoid(6378137.0, 1 / 298.257223563)
    aer = wgs84.aer_coords(np.ascontiguousarray(itrf.r), np.radians(lat), np.radians(lon), alt)

    # skyfield: TT - UT1 from the same UT1 - UTC, the same pole, the same epochs in UTC
    ts = skyfield.load.timescale(builtin=True, delta_t=32.184 + TAI_UTC_2008 - DUT1)
    ts.polar_motion_table = (np.array([2454000.0, 2456000.0]), np.full(2, XP), np.full(2, YP))
    sat = skyfield.EarthSatellite(ISS1, ISS2, ts=ts)
    topos = skyfield.wgs84.latlon(lat, lon, elevation_m=alt)
    when = ts.utc(2008, 9, 20, 0, 0, np.arange(n) * 30.0)
    el_ref, az_ref, range_ref = (sat - topos).at(when).altaz()

    daz = (np.degrees(aer["azimuth"]) - az_ref.degrees + 180.0) % 360.0 - 180.0
    assert np.max(np.abs(daz)) * 3600 < 0.1
    assert np.max(np.abs(np.degrees(aer["elevation"]) - el_ref.degrees)) * 3600 < 0.1
    assert np.max(np.abs(aer["range"] - range_ref.m)) < 1.0
    assert (el_ref.degrees > 10).any()  # the day holds passes, not only the far side
