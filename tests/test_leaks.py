"""Leak loops: every public operation of the native modules, and its error paths, run thousands
of times while the interpreter's allocated blocks and the inputs' reference counts stay flat.

Under ``PYTHONMALLOC=malloc`` (the sanitized run) ``sys.getallocatedblocks()`` is always 0 and
tracemalloc is no substitute: there it keeps a trace for the temporary string of every attribute
lookup by a new name (``getattr(x, "nd" + "im")`` in plain Python shows it), so only the
reference counts are checked in that run; LeakSanitizer covers raw allocations there, and the
ordinary run counts the blocks.
"""

import gc
import pickle
import sys

import numpy as np
import pytest

from orbalis._testing import ArrayLike
from orbalis.frames.frames import GCRF, ITRF
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
from orbalis.propagators.analytical.sgp4 import SGP4
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.satellite.satellite import Satellite, State, StateVector, __pyx_unpickle_State
from orbalis.time.time import Time

ROUNDS = 1000
WARMUP = 50
TOLERANCE = 100  # blocks a pass may leave behind (caches, free lists), far below one per round
COUNT_BLOCKS = sys.getallocatedblocks() > 0  # 0 under PYTHONMALLOC=malloc

E = Ellipsoid(6378137.0, 1 / 298.257223563)
T2 = Time(np.array(["2024-05-01T12:00:00", "2024-05-02"], dtype="datetime64[us]"))
T3 = Time(np.array(["2024-05-01", "2024-05-02", "2024-05-03"], dtype="datetime64[s]"))
R2 = np.array([[7.0e6, 1.0e5, 2.0e5], [1.0e6, 6.9e6, 3.0e5]])
V2 = np.array([[1.0, 7.5e3, 2.0], [-7.4e3, 1.0, 3.0]])
LAT = np.array([0.1, -0.7, 1.5])
LON = np.array([0.2, 2.5, -3.0])
ALT = np.array([10.0, 2.0e3, -5.0])
ROWS = np.array([[6.4e6, 1.0e4, 2.0e4], [1.0, 2.0, 6.4e6], [0.0, 0.0, 0.0]])
ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
ISS_TLE = TLE(*ISS)
ISS_SGP4 = SGP4(ISS_TLE)
BAD_LINE2 = ISS[1][:8] + "x" + ISS[1][9:]  # an inclination that does not read as a number
MINUTES = np.linspace(-100.0, 1000.0, 20)
SV = StateVector(T2, R2, V2)
OTHER_SV = StateVector(T2, R2.copy(), V2.copy())


class Boom(Exception):
    pass


class BadFloat:
    def __float__(self):
        raise Boom


class Name(str):
    pass


POISONED_ROWS = np.array([[1.0, 2.0, 3.0], [1.0, BadFloat(), 3.0]], dtype=object)
POISONED_COLUMN = np.array([0.1, BadFloat()], dtype=object)
STATE = State()
STATE.__setstate__((GCRF, T2))
SATELLITE = Satellite()
SATELLITE.time = "2024-05-01"


def swallow(call, *args, **kwargs):
    """Runs an operation expected to fail, so that its error path is what loops."""
    try:
        call(*args, **kwargs)
    except Exception:
        return
    raise AssertionError(f"{call!r} did not fail")


def store_memoryview():
    store = bytearray(R2.tobytes())
    return StateVector(T2, memoryview(store).cast("d", (2, 3)), V2).r


def setstate(state):
    s = State()
    s.__setstate__(state)
    return s


# label -> (operation, inputs whose reference counts must stay flat)
OPERATIONS = {
    # Ellipsoid: construction, attributes, every method on one input, a batch, item access
    "Ellipsoid()": (lambda: Ellipsoid(1.0, 0.1), ()),
    "Ellipsoid() refused": (lambda: swallow(Ellipsoid, 1.0, 1.0), ()),
    "Ellipsoid() wrong arguments": (lambda: swallow(Ellipsoid, "1", 0.1), ()),
    "Ellipsoid attributes": (lambda: (E.Re, E.f, E.Rp, repr(E)), (E,)),
    "Ellipsoid pickling refused": (lambda: swallow(pickle.dumps, E), (E,)),
    "reduced_lat_from_geodetic_lat": (lambda: E.reduced_lat_from_geodetic_lat(LAT), (LAT,)),
    "reduced_lat_from_geodetic_lat one": (lambda: E.reduced_lat_from_geodetic_lat(0.5), ()),
    "geodetic_lat_from_reduced_lat": (lambda: E.geodetic_lat_from_reduced_lat(LAT), (LAT,)),
    "geodetic_lat_from_reduced_lat refused": (
        lambda: swallow(E.geodetic_lat_from_reduced_lat, LAT.astype(np.float32)),
        (LAT,),
    ),
    "surf_pos_from_surf_coord": (lambda: E.surf_pos_from_surf_coord(LAT, LON), (LAT, LON)),
    "surf_pos_from_surf_coord short": (
        lambda: swallow(E.surf_pos_from_surf_coord, LAT, LON[:2]),
        (LAT, LON),
    ),
    "surf_coord_from_surf_pos": (lambda: E.surf_coord_from_surf_pos(ROWS), (ROWS,)),
    "surf_coord_from_surf_pos one": (lambda: E.surf_coord_from_surf_pos(ROWS[0]), (ROWS,)),
    "solve_reduced_lat_equation": (lambda: E.solve_reduced_lat_equation(ROWS), (ROWS,)),
    "solve_reduced_lat_equation poisoned": (
        lambda: swallow(E.solve_reduced_lat_equation, POISONED_ROWS),
        (POISONED_ROWS,),
    ),
    "lla_from_pos": (lambda: E.lla_from_pos(ROWS), (ROWS,)),
    "lla_from_pos item access": (lambda: E.lla_from_pos(ArrayLike(ROWS)), (ROWS,)),
    "lla_from_pos narrow": (lambda: swallow(E.lla_from_pos, ROWS[:, :2]), (ROWS,)),
    "lla_from_pos poisoned": (lambda: swallow(E.lla_from_pos, POISONED_ROWS), (POISONED_ROWS,)),
    "lla_from_pos wrong type": (lambda: swallow(E.lla_from_pos, "r"), ()),
    "pos_from_lla": (lambda: E.pos_from_lla(LAT, LON, ALT), (LAT, LON, ALT)),
    "pos_from_lla one": (lambda: E.pos_from_lla(0.1, 0.2, 3.0), ()),
    "pos_from_lla poisoned": (
        lambda: swallow(E.pos_from_lla, POISONED_COLUMN, LON[:2], ALT[:2]),
        (POISONED_COLUMN, LON, ALT),
    ),
    "pos_from_lla keywords": (lambda: E.pos_from_lla(lat=LAT, lon=LON, alt=ALT), (LAT,)),
    "pos_from_lla wrong keyword": (lambda: swallow(E.pos_from_lla, LAT, LON, height=ALT), ()),
    "enu": (lambda: E.enu(LAT, LON), (LAT, LON)),
    "enu one": (lambda: E.enu(0.3, 0.4), ()),
    "enu poisoned": (lambda: swallow(E.enu, POISONED_COLUMN, LON[:2]), (POISONED_COLUMN,)),
    "aer_coords": (lambda: E.aer_coords(ROWS, 0.1, 0.2, 3.0), (ROWS,)),
    "aer_coords one": (lambda: E.aer_coords(ROWS[0], 0.1, 0.2, 3.0), (ROWS,)),
    "aer_coords item access": (lambda: E.aer_coords(ArrayLike(ROWS), 0.1, 0.2, 3.0), (ROWS,)),
    "aer_coords poisoned": (
        lambda: swallow(E.aer_coords, POISONED_ROWS, 0.1, 0.2, 3.0),
        (POISONED_ROWS,),
    ),
    "aer_coords bad observer": (lambda: swallow(E.aer_coords, ROWS, "0", 0.2, 3.0), (ROWS,)),
    "surf_pos_of_ray_first_intersection": (
        lambda: E.surf_pos_of_ray_first_intersection(ROWS[0] * 2, -ROWS),
        (ROWS,),
    ),
    "surf_pos_of_ray_first_intersection poisoned": (
        lambda: swallow(E.surf_pos_of_ray_first_intersection, ROWS[0], POISONED_ROWS),
        (POISONED_ROWS,),
    ),
    # TLE
    "TLE()": (lambda: TLE(*ISS), ISS),
    "TLE attributes": (
        lambda: (lambda t: (t.line1, t.line2, t.satno, t.epoch, repr(t)))(TLE(*ISS)),
        ISS,
    ),
    "TLE() strict": (lambda: TLE(*ISS, strict_validation=True), ISS),
    "TLE() short line": (lambda: TLE(ISS[0][:40], ISS[1]), ISS),
    "TLE() non-ASCII": (lambda: swallow(TLE, ISS[0][:30] + "é" + ISS[0][31:], ISS[1]), ISS),
    "TLE() wrong arguments": (lambda: swallow(TLE, ISS[0]), ISS),
    "TLE() wrong type": (lambda: swallow(TLE, 1, ISS[1]), ISS),
    # SGP4
    "SGP4()": (lambda: SGP4(TLE(*ISS)), ISS),
    "SGP4() refused element": (lambda: swallow(SGP4, TLE(ISS[0], BAD_LINE2)), ISS),
    "SGP4() wrong option": (lambda: swallow(SGP4, ISS_TLE, gravity="x"), (ISS_TLE,)),
    "SGP4.propagate_minutes": (lambda: ISS_SGP4.propagate_minutes(MINUTES), (MINUTES,)),
    "SGP4.propagate_minutes poisoned": (
        lambda: swallow(ISS_SGP4.propagate_minutes, POISONED_COLUMN),
        (POISONED_COLUMN,),
    ),
    "SGP4.propagate": (lambda: ISS_SGP4.propagate(T2, errors=True), (T2,)),
    # State and its pickled form
    "State()": (lambda: State(), ()),
    "State.__setstate__": (lambda: setstate((GCRF, T2)), (T2,)),
    "State.__setstate__ refused": (lambda: swallow(setstate, (GCRF,)), ()),
    "State.__reduce__": (lambda: STATE.__reduce__(), (STATE,)),
    "State pickle round trip": (lambda: pickle.loads(pickle.dumps(STATE)), (STATE,)),
    "__pyx_unpickle_State": (lambda: __pyx_unpickle_State(State, 0x1DC0ED3, (GCRF, T2)), (T2,)),
    "__pyx_unpickle_State bad checksum": (
        lambda: swallow(__pyx_unpickle_State, State, 1, (GCRF, T2)),
        (T2,),
    ),
    "__pyx_unpickle_State bad type": (
        lambda: swallow(__pyx_unpickle_State, int, 0x1DC0ED3, None),
        (),
    ),
    # StateVector
    "StateVector()": (lambda: StateVector(T2, R2, V2), (T2, R2, V2)),
    "StateVector() memoryview": (store_memoryview, (T2, V2)),
    "StateVector() named frame": (lambda: StateVector(T2, R2, V2, "ITRF"), (R2, V2)),
    "StateVector() mismatched rows": (lambda: swallow(StateVector, T3, R2, V2), (T3, R2, V2)),
    "StateVector() wrong dtype": (
        lambda: swallow(StateVector, T2, R2.astype(np.float32), V2),
        (R2, V2),
    ),
    "StateVector() unknown frame": (lambda: swallow(StateVector, T2, R2, V2, "NOPE"), (R2, V2)),
    "StateVector arrays": (lambda: (SV.r, SV.v, SV.time, SV.frame, repr(SV)), (SV,)),
    "StateVector ==": (lambda: (SV == OTHER_SV, SV != OTHER_SV), (SV, OTHER_SV)),
    "StateVector < refused": (lambda: swallow(lambda: SV < SV), (SV,)),
    "StateVector.to_frame same": (lambda: SV.to_frame(GCRF), (SV,)),
    "StateVector.to_frame other": (lambda: SV.to_frame(ITRF), (SV,)),
    "StateVector.to_frame unknown": (lambda: swallow(SV.to_frame, "NOPE"), (SV,)),
    "StateVector frame attribute": (lambda: SV.ITRF, (SV,)),
    "StateVector missing attribute": (lambda: hasattr(SV, "nothing"), (SV,)),
    "StateVector str-subclass name": (lambda: getattr(SV, Name("frame")), (SV,)),
    "StateVector hasattr str-subclass name": (lambda: hasattr(SV, Name("nothing")), (SV,)),
    # Satellite
    "Satellite()": (lambda: Satellite(), ()),
    "Satellite.time": (lambda: (SATELLITE.time, repr(SATELLITE)), (SATELLITE,)),
    "Satellite() wrong arguments": (lambda: swallow(Satellite, 0), ()),
}


def blocks_left(operation):
    """Allocated blocks left behind by ROUNDS calls; the least of two passes, since a pass can
    end with a free list or a cache grown for reasons of its own."""
    grown = []
    for _ in range(2):
        gc.collect()
        before = sys.getallocatedblocks()
        for _ in range(ROUNDS):
            operation()
        gc.collect()
        grown.append(sys.getallocatedblocks() - before)
    return min(grown)


@pytest.mark.parametrize("label", list(OPERATIONS))
def test_operation_leaves_nothing_behind(label):
    operation, inputs = OPERATIONS[label]
    for _ in range(WARMUP):
        operation()
    gc.collect()
    counts = [sys.getrefcount(x) for x in inputs]
    left = blocks_left(operation)
    assert [sys.getrefcount(x) for x in inputs] == counts, "an input's reference count changed"
    if COUNT_BLOCKS:
        assert left < TOLERANCE, f"{left} blocks left after {ROUNDS} rounds"
