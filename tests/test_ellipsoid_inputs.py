"""Hostile inputs to the Ellipsoid methods: array-likes whose shape lies (negative extents,
outputs of another length), huge claimed batches, and record dtypes the layout check must
refuse. Each case runs in a fresh interpreter, where a crash is caught, and prints one
labelled line, so a failure names its case."""

import pytest

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
    assert out[-1] == "peak below 512 MiB True"
