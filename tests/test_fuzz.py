"""Seeded, bounded fuzzing of the native entry points. Each target runs in its own interpreter,
so that a crash, a hang or a SystemError fails the test and the last case printed names it.

The Ellipsoid methods get random dtypes, shapes and strides (negative, zero, unaligned,
byte-swapped), 0-d to 3-d, empty and object arrays, array-likes with odd ``ndim``, ``shape`` or
``__array__``, and elements whose ``__float__`` or ``__index__`` raise; a plain numeric array
must also give the same bits (or the same exception) as its values in a contiguous float64
array. TLE construction, SGP4 construction and propagation, StateVector, State and
``__pyx_unpickle_State`` get odd inputs of their own, with garbage collection of cycles through
the objects made.

``ORBALIS_FUZZ_SECONDS`` sets the total budget (30 s by default), ``ORBALIS_FUZZ_SEED`` the seed.
One target by hand: ``python tests/test_fuzz.py ellipsoid SEED SECONDS``.
"""

import faulthandler
import gc
import math
import os
import pickle
import random
import subprocess
import sys
import time
import warnings
from functools import lru_cache, partial

import numpy as np
import pytest

BUDGET = float(os.environ.get("ORBALIS_FUZZ_SECONDS", "30"))
SEED = int(os.environ.get("ORBALIS_FUZZ_SEED", "20240501"))
CASE_TIMEOUT = 60  # seconds one case may take before it counts as a hang
# target name -> (share of the budget, interpreter flags)
TARGETS = {
    "ellipsoid": (0.35, ()),
    "ellipsoid-O": (0.15, ("-O",)),
    "tle": (0.1, ()),
    "sgp4": (0.1, ()),
    "state": (0.15, ()),
    "state_vector": (0.15, ()),
}


@pytest.mark.parametrize("target", list(TARGETS))
def test_fuzz(target, record_property):
    share, flags = TARGETS[target]
    seconds = BUDGET * share
    env = dict(os.environ)
    env.pop("PYTHONOPTIMIZE", None)
    proc = subprocess.run(
        [sys.executable, *flags, __file__, target.removesuffix("-O"), str(SEED), str(seconds)],
        capture_output=True,
        text=True,
        env=env,
        timeout=seconds + 10 * CASE_TIMEOUT,
    )
    lines = proc.stdout.splitlines()
    cases = next((int(x.split()[1]) for x in reversed(lines) if x.startswith("cases ")), None)
    record_property("fuzz cases", cases)
    problems = [x for x in lines if x.startswith(("SYSTEMERROR", "MISMATCH", "BROKEN"))]
    assert proc.returncode == 0 and not problems, (
        f"{target} (seed {SEED}) exited with {proc.returncode}\n"
        + "\n".join(problems[:20])
        + "\nlast cases:\n"
        + "\n".join(lines[-3:])
        + "\nstderr:\n"
        + proc.stderr[-4000:]
    )
    assert cases, proc.stdout[-2000:]


# -- the child: input makers ----------------------------------------------------------------


class Boom(Exception):
    """Raised by the poisoned elements; a call either lets it through or refuses the input."""


class Broken(Exception):
    """Raised by a case whose call succeeded but left an object breaking its invariants."""


class BadFloat:
    def __float__(self):
        raise Boom("__float__")


class BadIndex:
    def __index__(self):
        raise Boom("__index__")

    def __repr__(self):
        return "BadIndex()"


class BadBoth(BadFloat, BadIndex):
    pass


class Index:
    """An integer only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value})"


class Like:
    """An array-like by protocol only: ndim, shape and item access, each possibly odd."""

    def __init__(self, ndim, shape, items):
        self._ndim, self._shape, self._items = ndim, shape, items

    @property
    def ndim(self):
        if isinstance(self._ndim, Boom):
            raise self._ndim
        return self._ndim

    @property
    def shape(self):
        if isinstance(self._shape, Boom):
            raise self._shape
        return self._shape

    def __getitem__(self, j):
        items = self._items
        if isinstance(items, Boom):
            raise items
        if isinstance(j, int) and 0 <= j < len(items):
            return items[j]
        raise IndexError(j)

    def __len__(self):
        return len(self._items) if isinstance(self._items, list) else 0


class LikeWithArray(Like):
    """An array-like whose __array__ gives something of its own choosing."""

    def __init__(self, ndim, shape, items, array):
        super().__init__(ndim, shape, items)
        self._array = array

    def __array__(self, dtype=None, copy=None):
        if isinstance(self._array, Boom):
            raise self._array
        return self._array


class Sneaky(np.ndarray):
    """An ndarray subclass whose array functions (zeros_like among them) give short results."""

    def __array_function__(self, func, types, args, kwargs):
        result = super().__array_function__(func, types, args, kwargs)
        if isinstance(result, np.ndarray) and result.ndim and result.shape[0] > 1:
            return result[:1]
        return result


DTYPES = [
    "f8", "f8", "f8", "f4", "f2", "g", "i1", "i4", "i8", "u1", "u8", "?", "c16", "O", "U4",
    "M8[s]", ">f8", ">i4", [("a", "f8")],
]  # fmt: skip
SPECIAL = [0.0, -0.0, 1.0, -1.0, math.nan, math.inf, -math.inf, 1e308, -1e308, 5e-324, 1e-300,
           math.pi / 2, -math.pi / 2, math.pi, 6378137.0, 1e7, 3e-5]  # fmt: skip
# 2**20 claims far more rows than the items hold, yet stays cheap to allocate (a sanitizer's
# allocator touches every page it hands out); 2**62 and 2**63 cannot be allocated at all.
ODD_EXTENTS = [0, 1, 2, 3, 3, 4, -1, np.int64(-2), Index(-5), Index(3), np.int64(3), 2**20,
               2**62, 2**63, "3", 3.0, None, BadIndex(), True]  # fmt: skip
ODD_NDIMS = [0, 1, 2, 3, 4, -1, 2**31, 2**63, np.int64(2), Index(1), "2", 2.0, None, BadIndex(),
             True, Boom("ndim")]  # fmt: skip


class Maker:
    def __init__(self, seed):
        self.r = random.Random(seed)
        self.np = np.random.default_rng(seed)

    def chance(self, p):
        return self.r.random() < p

    def number(self):
        r = self.r
        if self.chance(0.3):
            return r.choice(SPECIAL)
        return r.gauss(0.0, 1.0) * r.choice([1.0, 1.0, 1e3, 7e6, 1e-200, 1e200])

    def integer(self):
        x = self.number()
        return int(x) if abs(x) < 1e30 else 7  # NaN compares false: 7 as well

    def element(self):
        """One element of an object array or an array-like: mostly numbers, sometimes not."""
        r = self.r
        k = r.random()
        if k < 0.6:
            return self.number()
        return r.choice([
            lambda: self.integer(),
            lambda: 2**80,
            lambda: np.float32(self.number()),
            lambda: np.longdouble(self.number()),
            lambda: BadFloat(),
            lambda: BadIndex(),
            lambda: BadBoth(),
            lambda: None,
            lambda: "1.0",
            lambda: np.array(self.number()),
            lambda: [self.number()] * 3,
            lambda: 1 + 2j,
            lambda: Index(2),
        ])()  # fmt: skip

    def shape(self, kind):
        r = self.r
        n = r.choice([0, 1, 1, 2, 3, 5])
        if kind == "vectors":
            return r.choice([(3,), (n, 3), (n, 3), (n, 3), (n, 2), (n, 4), (2, n, 3), (), (n,)])
        return r.choice([(), (), (n,), (n,), (n,), (1, n), (n, 2), (2, 1, n)])

    def values(self, shape):
        out = np.array([self.number() for _ in range(int(np.prod(shape, dtype=np.int64)))])
        return out.reshape(shape)

    def array(self, kind):
        """An ndarray of a random dtype and layout, and how it was made."""
        r = self.r
        shape = self.shape(kind)
        dtype = np.dtype(r.choice(DTYPES))
        base = self.values(shape)
        if dtype.kind == "O":
            a = np.empty(shape, dtype=object)
            for idx in np.ndindex(shape):
                a[idx] = self.element()
        elif dtype.names:
            a = np.zeros(shape, dtype=dtype)
            a["a"] = base
        else:
            a = base.astype(dtype)
        layout = r.choice(["c", "c", "f", "reversed", "zero-stride", "every-other", "unaligned",
                           "read-only", "subclass"])  # fmt: skip
        if layout == "f":
            a = np.asfortranarray(a)
        elif layout == "reversed" and a.ndim:
            axis = r.randrange(a.ndim)
            a = np.flip(np.flip(a, axis).copy(), axis)  # same values, negative stride
        elif layout == "zero-stride" and a.ndim:
            first = a[(slice(0, 1),) * a.ndim] if a.size else a
            a = np.broadcast_to(first, a.shape) if a.size else a
        elif layout == "every-other" and a.ndim:
            big = np.repeat(a, 2, axis=0)
            a = big[::2]
        elif layout == "unaligned" and a.dtype.kind in "biufc" and a.dtype.itemsize > 1:
            raw = np.zeros(a.nbytes + 1, dtype=np.uint8)
            view = raw[1:].view(a.dtype).reshape(a.shape)
            view[...] = a
            a = view
        elif layout == "read-only":
            a = a.copy()
            a.flags.writeable = False
        elif layout == "subclass" and a.dtype.kind in "biuf":
            a = a.view(Sneaky)
        return a, f"ndarray {dtype.str} {shape} {layout}"

    def like(self, kind):
        r = self.r
        ndim = r.choice(ODD_NDIMS) if self.chance(0.4) else r.choice([0, 1, 2])
        if self.chance(0.5):
            shape = tuple(r.choice(ODD_EXTENTS) for _ in range(r.randrange(4)))
        else:
            shape = r.choice([(3,), (2, 3), (1,), (0,), (5,), [2, 3], 3, None, Boom("shape")])
        n = r.randrange(4)
        width = r.choice([1, 2, 3, 3, 4])
        rows = [
            lambda: np.array([self.number() for _ in range(width)]),
            lambda: [self.element() for _ in range(width)],
            lambda: Like(1, (width,), [self.element() for _ in range(width)]),
            lambda: self.element(),
        ]
        items = [r.choice(rows)() for _ in range(n)] if self.chance(0.9) else Boom("getitem")
        if self.chance(0.5):
            array = r.choice([
                lambda: self.values((max(n - 1, 0),)),
                lambda: self.values((n + 1, 3)),
                lambda: self.values((n,)),
                lambda: self.values((1, 3)),
                lambda: np.zeros(n, dtype="U2"),
                lambda: [1.0, 2.0],
                lambda: None,
                lambda: Boom("__array__"),
            ])()  # fmt: skip
            label = f"array-like ndim={ndim!r} shape={shape!r} __array__={type(array).__name__}"
            return LikeWithArray(ndim, shape, items, array), label
        return Like(ndim, shape, items), f"array-like ndim={ndim!r} shape={shape!r}"

    def argument(self, kind):
        """An argument for a 'scalar or array' or a 'vectors' parameter, and its label."""
        r = self.r
        k = r.random()
        if k < 0.55:
            return self.array(kind)
        if k < 0.7:
            return self.like(kind)
        if k < 0.85:
            v = self.number()
            return r.choice([v, np.float64(v), np.float32(v), np.longdouble(v)]), "scalar"
        value = r.choice([
            lambda: self.element(),
            lambda: [self.number() for _ in range(3)],
            lambda: [[self.number()] * 3] * 2,
            lambda: (self.number(),) * 3,
            lambda: memoryview(self.values((2, 3))),
            lambda: b"\x00" * 24,
            lambda: object(),
            lambda: np.float64,
        ])()  # fmt: skip
        return value, f"other {type(value).__name__}"


def reference_of(argument):
    """The same values in a new C-contiguous array, when `argument` is a plain native float64
    ndarray of another layout; None otherwise."""
    if type(argument) is np.ndarray and argument.dtype == np.float64 and argument.dtype.isnative:
        return np.array(argument, order="C")
    return None


# -- the child: targets ----------------------------------------------------------------------

ELLIPSOID_METHODS = {
    "reduced_lat_from_geodetic_lat": ["array"],
    "geodetic_lat_from_reduced_lat": ["array"],
    "surf_pos_from_surf_coord": ["array", "array"],
    "surf_coord_from_surf_pos": ["vectors"],
    "solve_reduced_lat_equation": ["vectors"],
    "lla_from_pos": ["vectors"],
    "pos_from_lla": ["array", "array", "array"],
    "enu": ["array", "array"],
    "aer_coords": ["vectors", "scalar", "scalar", "scalar"],
    "surf_pos_of_ray_first_intersection": ["vectors", "vectors"],
}


def ellipsoid_cases(m):
    from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

    class Sub(Ellipsoid):
        pass

    shapes = [(6378137.0, 1 / 298.257223563), (1.0, 0.0), (1.0, 0.5), (2.0, 0.999)]
    bodies = [Ellipsoid(*p) for p in shapes] + [Sub(1.0, 0.3)]
    names = list(ELLIPSOID_METHODS)
    while True:
        e = m.r.choice(bodies)
        name = m.r.choice(names)
        kinds = ELLIPSOID_METHODS[name]
        args, labels = [], []
        for kind in kinds:
            if kind == "scalar":
                if m.chance(0.8):
                    value, label = m.number(), "float"
                else:
                    value = m.r.choice([m.element(), np.array([1.0, 2.0]), np.array(0.5), "0"])
                    label = type(value).__name__
            else:
                value, label = m.argument(kind)
            args.append(value)
            labels.append(label)
        if m.chance(0.05):
            args = args[: m.r.randrange(len(args) + 2)] + [0.0] * m.r.randrange(2)
        method = getattr(e, name)
        refs = [reference_of(a) if k != "scalar" else a for a, k in zip(args, kinds, strict=False)]
        reference = None
        if len(args) == len(kinds) and all(x is not None for x in refs):
            reference = partial(method, *refs)
        yield f"{name}({'; '.join(labels)})", partial(method, *args), reference


ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)


class Text(str):
    pass


class BadBool:
    def __bool__(self):
        raise Boom("__bool__")


def tle_cases(m):
    from orbalis.propagators.analytical.sgp4.tle import TLE

    r = m.r
    alphabet = "0123456789 .-+ABCXYZabcz\t\r\n\x00\x7fé€\U0001f600"

    def line(text):
        k = r.random()
        if k < 0.5:  # a few characters changed
            chars = list(text)
            for _ in range(r.randrange(1, 6)):
                chars[r.randrange(len(chars))] = r.choice(alphabet)
            return "".join(chars)
        if k < 0.65:
            return text[: r.randrange(len(text) + 1)]
        if k < 0.75:
            return text + "".join(r.choice(alphabet) for _ in range(r.randrange(1, 40)))
        if k < 0.8:
            return Text(text)
        if k < 0.85:
            return text.encode()
        if k < 0.9:
            return text[:30] + "\ud800" + text[31:]
        return r.choice([None, 1, 1.5, "", " " * 69, "1" * 10_000, [text], text.lower()])

    while True:
        args = [line(ISS[0]), line(ISS[1])]
        label = f"TLE({type(args[0]).__name__}, {type(args[1]).__name__}"
        kwargs = {}
        if m.chance(0.3):
            kwargs["strict_validation"] = r.choice([True, False, 0, None, BadBool(), "", [1]])
            label += f", strict_validation={type(kwargs['strict_validation']).__name__}"
        if m.chance(0.03):
            args.append(r.choice([True, 1, None]))

        def call(args=args, kwargs=kwargs):
            t = TLE(*args, **kwargs)
            return (t.line1, t.line2, t.satno, repr(t), t.epoch)

        yield label + ")", call, None


class Lines:
    """Anything with line1 and line2 attributes, of any type."""

    def __init__(self, line1, line2):
        self.line1, self.line2 = line1, line2


def sgp4_cases(m):
    from orbalis.propagators.analytical.sgp4 import SGP4
    from orbalis.propagators.analytical.sgp4.tle import TLE

    r = m.r
    digits = "0123456789 .-+"
    real = SGP4(TLE(*ISS))

    def mutate(text):
        chars = list(text)
        for _ in range(r.randrange(1, 4)):
            chars[r.randrange(len(chars))] = r.choice(digits)
        return "".join(chars)

    def build(source, kwargs):
        sat = SGP4(source, **kwargs)
        return sat.epoch, sat.is_deep_space, sat.propagate_minutes(np.linspace(-1e3, 1e4, 7))

    while True:
        k = r.random()
        if k < 0.5:
            lines = [mutate(ISS[0]) if m.chance(0.5) else ISS[0], mutate(ISS[1])]
            source = TLE(*lines) if m.chance(0.7) else Lines(*lines)
            kwargs = {}
            if m.chance(0.3):
                kwargs["gravity"] = r.choice(["wgs72", "wgs72old", "wgs84", "WGS84", "", 1])
            if m.chance(0.3):
                kwargs["opsmode"] = r.choice(["i", "a", "x", "", None])
            yield (
                f"SGP4({type(source).__name__}, {sorted(kwargs)})",
                partial(build, source, kwargs),
                None,
            )
        elif k < 0.6:
            source = Lines(*[r.choice([None, 1, b"x", ISS[0][:20], "", ISS[0]]) for _ in range(2)])
            yield "SGP4(odd lines)", partial(build, source, {}), None
        else:
            times, label = m.argument("array")
            yield f"propagate_minutes({label})", partial(real.propagate_minutes, times), None


@lru_cache
def times(n):
    from orbalis.time.time import Time

    return Time(np.datetime64("2024-03-01T00:00:00") + np.arange(n) * np.timedelta64(60, "s"))


def state_cases(m):
    from orbalis.frames.frames import GCRF, ITRF, TEME
    from orbalis.satellite.satellite import State, StateVector, __pyx_unpickle_State

    class Tagged(State):
        pass

    class SV(StateVector):
        pass

    class Integral:
        def __int__(self):
            return 0x1DC0ED3

    r = m.r

    def odd():
        return r.choice([
            None, GCRF, ITRF, TEME, "GCRF", 1, times(1), times(3), object(), BadIndex(),
            (GCRF,), [GCRF, times(1)], np.zeros(3), Tagged(),
        ])  # fmt: skip

    def state_arg():
        k = r.random()
        if k < 0.6:
            return tuple(odd() for _ in range(2))
        if k < 0.8:
            return tuple(odd() for _ in range(r.randrange(5)))
        return r.choice([None, [GCRF, None], {"frame": GCRF}, "ft", 0])

    def setstate(cls, state):
        target = cls()
        target.__setstate__(state)
        return target.frame, target.time, target.__reduce__()

    def setstate_on_sv(sv, state):
        State.__setstate__(sv, state)
        if sv.time is None or sv.time.size != sv.r.shape[0]:
            raise Broken(f"the state vector of {sv.r.shape[0]} rows now has time {sv.time!r}")
        return sv.time, sv.r, sv == sv, repr(sv), sv.to_frame("ITRF").r

    def round_trip(s):
        return pickle.loads(pickle.dumps(s)).frame

    def unpickle(cls, checksum, state):
        s = __pyx_unpickle_State(cls, checksum, state)
        return s, repr(s.frame), repr(s.time), s.__reduce__()

    while True:
        k = r.random()
        if k < 0.35:
            cls = r.choice([State, Tagged])
            state = state_arg()
            yield f"{cls.__name__}().__setstate__", partial(setstate, cls, state), None
        elif k < 0.45:
            sv = StateVector(times(2), *m.values((2, 2, 3)))
            state = state_arg()
            yield "State.__setstate__(StateVector)", partial(setstate_on_sv, sv, state), None
        elif k < 0.75:
            cls = r.choice([State, Tagged, StateVector, SV, int, "State", object, None, Boom])
            checksum = r.choice([0x1DC0ED3, 0xE2BDDD5, 0xF4E554C, 0, -1, 2**64, "x", Integral()])
            state = r.choice([state_arg(), None])
            args = [cls, checksum, state][: r.choice([3, 3, 3, 2, 4])]
            yield f"__pyx_unpickle_State({cls!r:.40})", partial(unpickle, *args), None
        else:
            s = r.choice([State, Tagged])()
            s.__setstate__((r.choice([None, GCRF, TEME]), r.choice([None, times(2)])))
            if m.chance(0.5) and type(s) is Tagged:
                s.me = s
            yield "pickle round trip", partial(round_trip, s), None
        if m.chance(0.01):
            yield "gc.collect()", gc.collect, None


class Name(str):
    pass


def construct(made, cls, args):
    made.append(cls(*args))


def state_vector_cases(m):
    from orbalis.frames.frames import GCRF, ITRF, TEME
    from orbalis.satellite.satellite import State, StateVector

    class SV(StateVector):
        pass

    r = m.r

    def rows(n):
        k = r.random()
        v = m.values((n, 3))
        if k < 0.4:
            return v
        if k < 0.55 and n:
            store = bytearray(v.tobytes())
            return memoryview(store).cast("d", (n, 3))
        if k < 0.65:
            big = np.repeat(v, 2, axis=0)
            return big[::-2]
        if k < 0.75:
            return np.asfortranarray(v)
        return r.choice([
            None, v.astype("f4"), v[:, :2], v.reshape(-1), np.broadcast_to(v[:1], (n, 3)),
            bytes(24 * n), [[0.0] * 3] * n, object(), np.zeros((n + 1, 3)), np.zeros((n, 4)),
            v.astype(">f8"), m.values((n, 3, 1)), np.zeros((0, 3)),
        ])  # fmt: skip

    def frame():
        return r.choice([None, "GCRF", "ITRF", "TEME", GCRF, ITRF, TEME, Name("GCRF"), 1, "X"])

    def poke(sv, other, target, name):
        out = [sv.r, sv.v, sv.time, sv.frame, repr(sv)]
        for op in (lambda: sv == other, lambda: sv != other, lambda: other == sv):
            try:
                out.append(op())
            except (TypeError, ValueError):
                pass
        try:
            out.append(sv.to_frame(target))
        except Exception as exc:
            if isinstance(exc, SystemError):
                raise
        out.append(hasattr(sv, name))
        return out

    while True:
        n = r.choice([0, 1, 2, 3])
        t = times(r.choice([n, n, n, n + 1])) if m.chance(0.9) else r.choice([None, 1, "x"])
        cls = r.choice([StateVector, SV])
        args = [t, rows(n), rows(n), frame()][: r.choice([4, 4, 3, 2, 5])]

        made = []
        label = f"{cls.__name__}({', '.join(type(a).__name__ for a in args)})"
        yield label, partial(construct, made, cls, args), None
        if not made:
            continue
        sv = made.pop()
        other = r.choice([sv, SV(times(1), np.zeros((1, 3)), np.zeros((1, 3))), State(), 5])
        name = r.choice(["GCRF", "ITRF", Name("ITRF"), Name("r"), "r", "nothing", "__dict__"])
        target = frame()
        if cls is SV and m.chance(0.5):
            sv.me = sv  # a cycle through the state vector and its buffers
        yield f"{label} ops", partial(poke, sv, other, target, name), None
        del sv
        if m.chance(0.02):
            yield "gc.collect()", gc.collect, None


def run(target, seed, seconds):
    """Runs the target's cases until the budget is spent; prints one line per case, a line per
    problem and the count at the end."""
    from orbalis._testing import same_bits

    warnings.simplefilter("ignore")
    np.seterr(all="ignore")
    sys.stdout.reconfigure(line_buffering=True)
    makers = {
        "ellipsoid": ellipsoid_cases,
        "tle": tle_cases,
        "sgp4": sgp4_cases,
        "state": state_cases,
        "state_vector": state_vector_cases,
    }
    m = Maker(seed)
    deadline = time.monotonic() + seconds
    count = problems = 0
    for label, call, reference in makers[target](m):
        if time.monotonic() > deadline:
            break
        print(f"case {count} {label}")
        faulthandler.dump_traceback_later(CASE_TIMEOUT, exit=True)
        got = outcome(call)
        if isinstance(got, SystemError):
            print(f"SYSTEMERROR case {count} {label}: {got!r}")
            problems += 1
        elif isinstance(got, Broken):
            print(f"BROKEN case {count} {label}: {got}")
            problems += 1
        elif reference is not None:
            expected = outcome(reference)
            if not same_outcome(got, expected, same_bits):
                print(f"MISMATCH case {count} {label}: {got!r:.200} vs {expected!r:.200}")
                problems += 1
        count += 1
    faulthandler.cancel_dump_traceback_later()
    gc.collect()
    print(f"cases {count} problems {problems}")
    return 1 if problems else 0


def outcome(call):
    try:
        return call()
    except Exception as exc:
        return exc


def same_outcome(a, b, same_bits):
    if isinstance(a, Exception) or isinstance(b, Exception):
        return type(a) is type(b)
    if isinstance(a, float) and isinstance(b, float):
        return same_bits(a, b)
    return type(a) is type(b) and same_bits(a, b)


if __name__ == "__main__":
    sys.exit(run(sys.argv[1], int(sys.argv[2]), float(sys.argv[3])))
