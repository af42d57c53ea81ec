"""Hostile inputs to the Ellipsoid methods: array-likes whose shape lies (negative extents,
outputs of another length), huge claimed batches, and record dtypes the layout check must
refuse. Each case runs in a fresh interpreter, where a crash is caught, and prints one
labelled line, so a failure names its case."""

import fractions
import os

import numpy as np
import pytest

from orbalis._testing import ArrayLike
from orbalis.datamodel import LLA_dtype, SurfCoord_dtype
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

METHODS_WITH_EXTENT = """
import numpy as np
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

e = Ellipsoid(1.0, 0.1)

class Index:
    def __init__(self, value):
        self.value = value
    def __index__(self):
        return self.value
    def __eq__(self, other):
        return isinstance(other, Index) and other.value == self.value or other == self.value
    __hash__ = None

class Fake:
    # ndim and shape as given; every item is 0.5 (rows of three 0.5)
    def __init__(self, shape):
        self.shape, self.ndim = shape, len(shape)
    def __array__(self, dtype=None, copy=None):
        return np.full(4, 0.5)
    def __getitem__(self, index):
        return 0.5 if self.ndim == 1 else np.full(3, 0.5)

source = np.array([3.0, 0.0, 0.0])

def calls(extent):
    col = lambda: Fake((extent,))
    rows = lambda: Fake((extent, 3))
    return {
        "reduced_lat_from_geodetic_lat": lambda: e.reduced_lat_from_geodetic_lat(col()),
        "geodetic_lat_from_reduced_lat": lambda: e.geodetic_lat_from_reduced_lat(col()),
        "enu": lambda: e.enu(*[col()] * 2),
        "surf_pos_from_surf_coord": lambda: e.surf_pos_from_surf_coord(*[col()] * 2),
        "surf_coord_from_surf_pos": lambda: e.surf_coord_from_surf_pos(rows()),
        "solve_reduced_lat_equation": lambda: e.solve_reduced_lat_equation(rows()),
        "lla_from_pos": lambda: e.lla_from_pos(rows()),
        "pos_from_lla": lambda: e.pos_from_lla(*[col()] * 3),
        "surf_pos_of_ray_first_intersection":
            lambda: e.surf_pos_of_ray_first_intersection(source, rows()),
        "aer_coords": lambda: e.aer_coords(rows(), 0.1, 0.2, 0.3),
    }

for label, extent, text in [("int", -1, "-1"), ("int64", np.int64(-2), "-2"),
                            ("index", Index(-5), "-5")]:
    for name, call in calls(extent).items():
        try:
            call()
        except ValueError as exc:
            print(label, name, "ValueError", text in str(exc))
        except BaseException as exc:
            print(label, name, type(exc).__name__, exc)
        else:
            print(label, name, "no error")
"""

TEN_METHODS = [
    "reduced_lat_from_geodetic_lat",
    "geodetic_lat_from_reduced_lat",
    "enu",
    "surf_pos_from_surf_coord",
    "surf_coord_from_surf_pos",
    "solve_reduced_lat_equation",
    "lla_from_pos",
    "pos_from_lla",
    "surf_pos_of_ray_first_intersection",
    "aer_coords",
]


@pytest.mark.parametrize("flags", [(), ("-O",)], ids=["asserts", "python-O"])
def test_negative_extent_raises_value_error_naming_it(python_subprocess, flags):
    out = python_subprocess(METHODS_WITH_EXTENT, *flags).stdout.splitlines()
    expected = [
        f"{label} {name} ValueError True"
        for label in ("int", "int64", "index")
        for name in TEN_METHODS
    ]
    assert out == expected


ZEROS_LIKE_OF_ANOTHER_LENGTH = """
import numpy as np
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

e = Ellipsoid(1.0, 0.1)

class ShortArray:
    # __array__ (what zeros_like sees) is shorter than shape[0] (what the loop runs to)
    ndim, shape = 1, (1000,)
    def __array__(self, dtype=None, copy=None):
        return np.zeros(2)
    def __getitem__(self, i):
        return 0.25

class Overriding(np.ndarray):
    def __array_function__(self, func, types, args, kwargs):
        if func is np.zeros_like:
            return np.zeros(3)
        return super().__array_function__(func, types, args, kwargs)

class Longer(np.ndarray):
    def __array_function__(self, func, types, args, kwargs):
        if func is np.zeros_like:
            return np.zeros(50)
        return super().__array_function__(func, types, args, kwargs)

cases = {
    "short __array__": ShortArray(),
    "zeros_like override": np.full(100_000, 0.25).view(Overriding),
    "longer zeros_like": np.full(5, 0.25).view(Longer),
}
for label, x in cases.items():
    for name in ("reduced_lat_from_geodetic_lat", "geodetic_lat_from_reduced_lat"):
        try:
            getattr(e, name)(x)
        except ValueError as exc:
            print(label, name, "ValueError", str(exc))
        else:
            print(label, name, "no error")
"""


def test_latitude_output_of_another_length_is_refused(python_subprocess):
    out = python_subprocess(ZEROS_LIKE_OF_ANOTHER_LENGTH).stdout.splitlines()
    lengths = {
        "short __array__": (2, 1000),
        "zeros_like override": (3, 100000),
        "longer zeros_like": (50, 5),
    }
    assert len(out) == 6
    for line in out:
        label = line.split(" ValueError")[0].rsplit(" ", 1)[0]
        assert " ValueError " in line, line
        got, n = lengths[label]
        assert f"length {got} " in line and f"length {n} " in line, line


HUGE_BATCH_FAILING_AT_ONCE = """
import resource
import numpy as np
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

e = Ellipsoid(1.0, 0.1)
N = 2**25

class Huge:
    # claims N rows (or elements); reading the first one raises
    def __init__(self, ndim):
        self.ndim = ndim
        self.shape = (N, 3) if ndim == 2 else (N,)
    def __getitem__(self, index):
        raise RuntimeError("first item")

source = np.array([3.0, 0.0, 0.0])
calls = {
    "enu": lambda: e.enu(Huge(1), Huge(1)),
    "surf_pos_from_surf_coord": lambda: e.surf_pos_from_surf_coord(Huge(1), Huge(1)),
    "surf_coord_from_surf_pos": lambda: e.surf_coord_from_surf_pos(Huge(2)),
    "solve_reduced_lat_equation": lambda: e.solve_reduced_lat_equation(Huge(2)),
    "lla_from_pos": lambda: e.lla_from_pos(Huge(2)),
    "pos_from_lla": lambda: e.pos_from_lla(Huge(1), Huge(1), Huge(1)),
    "surf_pos_of_ray_first_intersection":
        lambda: e.surf_pos_of_ray_first_intersection(source, Huge(2)),
    "aer_coords": lambda: e.aer_coords(Huge(2), 0.1, 0.2, 0.3),
}
for name, call in calls.items():
    try:
        call()
    except RuntimeError as exc:
        print(name, "RuntimeError", exc)
# The results were allocated zeroed by calloc and never touched: the process stays small
# although each claimed batch needs gigabytes.
peak_mib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
print("peak below 512 MiB", peak_mib < 512)
"""


def test_huge_claimed_batch_fails_at_its_first_row(python_subprocess):
    out = python_subprocess(HUGE_BATCH_FAILING_AT_ONCE).stdout.splitlines()
    assert out[:-1] == [
        f"{name} RuntimeError first item"
        for name in TEN_METHODS
        if name not in ("reduced_lat_from_geodetic_lat", "geodetic_lat_from_reduced_lat")
    ]
    if os.environ.get("ORBALIS_SANITIZED") != "1":  # ASan's shadow memory inflates RSS
        assert out[-1] == "peak below 512 MiB True"


RECORD_DTYPE_WITHOUT_A_FIELD_ENTRY = """
import gc
import numpy as np
import orbalis.mathtools.ellipsoid.ellipsoid as m

dtype = np.dtype([("lat", "<f8"), ("lon", "<f8"), ("alt", "<f8")])
# The dtype's own field dict, behind the read-only proxy: its names now list a field that
# has no entry.
fields = next(d for d in gc.get_referents(dtype.fields) if isinstance(d, dict))
del fields["alt"]
m.LLA_dtype = dtype
e = m.Ellipsoid(1.0, 0.5)
for label, r in [("vector", np.array([2.0, 0.0, 0.0])), ("rows", np.zeros((2, 3)))]:
    try:
        e.lla_from_pos(r)
    except ValueError as exc:
        print(label, "ValueError", "LLA" in str(exc))
    except BaseException as exc:
        print(label, type(exc).__name__, exc)
    else:
        print(label, "no error")
"""


def test_record_dtype_missing_a_field_entry_raises_value_error(python_subprocess):
    out = python_subprocess(RECORD_DTYPE_WITHOUT_A_FIELD_ENTRY).stdout.splitlines()
    assert out == ["vector ValueError True", "rows ValueError True"]


# -- fast paths give the outcome of the general ones --------------------------------------------

E = Ellipsoid(6378137.0, 1 / 298.257223563)


class FloatSub(float):
    pass


@pytest.mark.parametrize(
    "convert",
    [float, np.float64, np.float32, np.longdouble, FloatSub, fractions.Fraction],
    ids=["float", "float64", "float32", "longdouble", "float-subclass", "Fraction"],
)
def test_every_real_scalar_takes_the_scalar_path_with_its_float_value(convert):
    lat, lon, alt = 0.5, -2.0, 1234.5
    expected = E.pos_from_lla(float(convert(lat)), float(convert(lon)), float(convert(alt)))
    got = E.pos_from_lla(convert(lat), convert(lon), convert(alt))
    assert got.shape == (3,) and got.tobytes() == expected.tobytes()
    assert E.reduced_lat_from_geodetic_lat(convert(lat)) == E.reduced_lat_from_geodetic_lat(
        float(convert(lat))
    )


@pytest.mark.parametrize(
    "value", [1, True, np.int64(1), np.uint8(1)], ids=["int", "bool", "int64", "uint8"]
)
def test_integers_take_the_scalar_path(value):
    assert E.pos_from_lla(value, value, value).tobytes() == E.pos_from_lla(1.0, 1.0, 1.0).tobytes()


def _shapes(args):
    return "-".join("x".join(map(str, a.shape)) or "0d" for a in args if hasattr(a, "shape"))


SHAPE_ERRORS = [
    ("pos_from_lla", (np.zeros(2), np.zeros(3), np.zeros(2)), AssertionError),
    ("pos_from_lla", (np.zeros(2), np.zeros((2, 1)), np.zeros(2)), AssertionError),
    ("pos_from_lla", (np.zeros((2, 2)),) * 3, AssertionError),
    ("surf_pos_from_surf_coord", (np.zeros(0), np.zeros(1)), AssertionError),
    # a 0-d array beside 1-d ones has no extent to compare: the ndim check comes first
    ("surf_pos_from_surf_coord", (np.zeros(5), np.array(3.0)), AssertionError),
    ("pos_from_lla", (np.zeros(2), np.array(1.0), np.zeros(2)), AssertionError),
    ("enu", (np.zeros(3), np.array(0.5)), AssertionError),
    ("enu", (np.zeros(3), np.zeros((3, 1))), AssertionError),
    ("lla_from_pos", (np.zeros((2, 4)),), AssertionError),
    ("lla_from_pos", (np.zeros((2, 3, 1)),), AssertionError),
    ("lla_from_pos", (np.zeros(4),), AssertionError),
    ("solve_reduced_lat_equation", (np.zeros((0, 2)),), AssertionError),
    ("surf_coord_from_surf_pos", (np.zeros(4),), AssertionError),
    ("aer_coords", (np.zeros((1, 2)), 0.0, 0.0, 0.0), AssertionError),
]


@pytest.mark.parametrize(
    "name, args, error",
    SHAPE_ERRORS,
    ids=[f"{name}-{_shapes(args)}" for name, args, _ in SHAPE_ERRORS],
)
def test_plain_arrays_and_array_likes_fail_the_same_checks(name, args, error):
    # Plain ndarrays are checked from their fields, anything else through ndim and shape:
    # both must raise the same exception.
    wrap = [ArrayLike(a) if isinstance(a, np.ndarray) else a for a in args]
    for inputs in (args, wrap):
        with pytest.raises(error):
            getattr(E, name)(*inputs)


@pytest.mark.parametrize("n", [0, 1, 2, 21, 22, 1000], ids=lambda n: f"n={n}")
def test_record_results_are_zeroed_writable_c_ordered_arrays(n):
    r = np.tile([7e6, 1e5, -2e6], (n, 1))
    lla = E.lla_from_pos(r)
    assert lla.dtype == LLA_dtype and lla.shape == (n,)
    assert lla.flags.writeable and lla.flags.c_contiguous and lla.flags.aligned
    expected = np.zeros(n, dtype=LLA_dtype)
    for j in range(n):
        expected[j] = tuple(E.lla_from_pos(r[j])[0])
    assert lla.tobytes() == expected.tobytes()
    lla["alt"] = 5.0  # writable, and independent of any other result
    assert E.lla_from_pos(r).tobytes() == expected.tobytes()
    single = E.surf_coord_from_surf_pos(np.array([6378137.0, 0.0, 0.0]))
    assert single.dtype == SurfCoord_dtype and single.shape == (1,) and single.flags.writeable


@pytest.mark.parametrize("name", TEN_METHODS)
def test_every_failure_gets_one_traceback_entry_naming_its_method(name):
    prefix = "orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid."
    for call in (lambda: getattr(E, name)(nonsense=1), lambda: getattr(E, name)(*[[0.1]] * 4)):
        with pytest.raises((TypeError, AttributeError)) as info:
            call()
        entries = [t.name for t in info.traceback if t.name.startswith(prefix)]
        assert entries == [prefix + name]
