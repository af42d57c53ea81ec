"""Threads: four threads run every Ellipsoid method, TLE construction, StateVector comparisons
and to_frame at once, each in its own order, and every result is bit-identical to a serial run.
"""

import sys
import threading

import numpy as np

from orbalis._testing import ArrayLike, same_bits
from orbalis.frames.frames import ITRF, TEME
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.satellite.satellite import StateVector
from orbalis.time.time import Time

THREADS = 4
ROUNDS = 20

E = Ellipsoid(6378137.0, 1 / 298.257223563)
RNG = np.random.default_rng(7)
N = 500
LAT = RNG.uniform(-1.5, 1.5, N)
LON = RNG.uniform(-3.1, 3.1, N)
ALT = RNG.uniform(-1e3, 1e6, N)
R = RNG.normal(size=(N, 3)) * 7e6
U = -R / np.linalg.norm(R, axis=1)[:, None] + RNG.normal(size=(N, 3)) * 0.1
EPOCHS = Time(np.datetime64("2024-03-01T00:00:00") + np.arange(N) * np.timedelta64(60, "s"))
V = RNG.normal(size=(N, 3)) * 7e3
ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
LINES = [(ISS[0].replace("08264.51782528", f"{8 + k % 30:02d}{1 + k:03d}.51782528"), ISS[1])
         for k in range(50)]  # fmt: skip


def tle_epochs():
    out = []
    for line1, line2 in LINES:
        t = TLE(line1, line2)
        out.append((t.line1, t.line2, t.satno, float(t.epoch.jd)))
    return out


def comparisons():
    a = StateVector(EPOCHS, R, V)
    b = StateVector(EPOCHS, R.copy(), V.copy())
    c = StateVector(EPOCHS, R, V, ITRF)
    return [a == b, a != b, a == c, a != c, b == a]


def to_frame(frame):
    out = StateVector(EPOCHS, R, V).to_frame(frame)
    return out.r, out.v


TASKS = {
    "reduced_lat_from_geodetic_lat": lambda: E.reduced_lat_from_geodetic_lat(LAT),
    "geodetic_lat_from_reduced_lat": lambda: E.geodetic_lat_from_reduced_lat(LAT),
    "surf_pos_from_surf_coord": lambda: E.surf_pos_from_surf_coord(LAT, LON),
    "surf_coord_from_surf_pos": lambda: E.surf_coord_from_surf_pos(R),
    "solve_reduced_lat_equation": lambda: E.solve_reduced_lat_equation(R),
    "lla_from_pos": lambda: E.lla_from_pos(R),
    "lla_from_pos item access": lambda: E.lla_from_pos(ArrayLike(R[:50])),
    "pos_from_lla": lambda: E.pos_from_lla(LAT, LON, ALT),
    "enu": lambda: E.enu(LAT, LON),
    "aer_coords": lambda: E.aer_coords(R, 0.3, -1.2, 250.0),
    "surf_pos_of_ray_first_intersection": lambda: E.surf_pos_of_ray_first_intersection(R[0], U),
    "TLE construction": tle_epochs,
    "StateVector comparisons": comparisons,
    "to_frame ITRF": lambda: to_frame(ITRF),
    "to_frame TEME": lambda: to_frame(TEME),
}


def same(a, b):
    if isinstance(a, tuple | list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b, strict=True))
    if isinstance(a, str | int):
        return type(a) is type(b) and a == b
    return same_bits(a, b)


def test_threads_give_the_serial_results_bit_for_bit():
    serial = {label: task() for label, task in TASKS.items()}
    labels = list(TASKS)
    results = [[] for _ in range(THREADS)]
    errors = []
    start = threading.Barrier(THREADS)

    def work(k):
        order = labels[k:] + labels[:k]  # each thread its own order
        try:
            start.wait()
            for _ in range(ROUNDS):
                for label in order:
                    results[k].append((label, TASKS[label]()))
        except BaseException as exc:  # reported below, with the thread that raised it
            errors.append((k, exc))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter allows
    try:
        threads = [threading.Thread(target=work, args=(k,)) for k in range(THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert not errors, errors
    for k, got in enumerate(results):
        assert len(got) == ROUNDS * len(TASKS)
        differing = sorted({label for label, value in got if not same(value, serial[label])})
        assert not differing, f"thread {k} differs from the serial run in {differing}"
