"""The Ellipsoid type itself: construction, validation, properties, refusals, import."""

import copy
import math
import pickle

import numpy as np
import pytest

from orbalis._testing import labelled_lines
from orbalis.datamodel import AER_dtype, ENU_dtype, LLA_dtype, SurfCoord_dtype
from orbalis.mathtools.ellipsoid import ellipsoid as ellipsoid_module
from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid

WGS84 = (6378137.0, 1 / 298.257223563)
REFUSAL = "no default __reduce__ due to non-trivial __cinit__"


@pytest.mark.parametrize(
    "Re, f, Rp",
    [
        (2.0, 0.25, 1.5),
        (4.0, 0.5, 2.0),
        (1.0, 0.0, 1.0),
        (1.0, -0.0, 1.0),
        (math.inf, 0.0, math.inf),
    ],
)
def test_radii(Re, f, Rp):
    e = Ellipsoid(Re, f)
    assert (e.Re, e.f, e.Rp) == (Re, f, Rp)
    assert all(type(v) is float for v in (e.Re, e.f, e.Rp))


def test_wgs84_polar_radius_and_repr():
    e = Ellipsoid(*WGS84)
    assert e.Rp == (1 - WGS84[1]) * WGS84[0] == 6356752.314245179
    assert repr(e) == f"Ellipsoid(Re=6378137.0, f={WGS84[1]!r})"


@pytest.mark.parametrize(
    "Re, f", [(0.0, 0.1), (-1.0, 0.1), (1.0, 1.0), (1.0, -0.1), (math.nan, 0.0), (1.0, math.nan)]
)
def test_invalid_parameters_fail_the_assertion(Re, f):
    with pytest.raises(AssertionError) as info:
        Ellipsoid(Re, f)
    assert str(info.value) == ""


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((1.0,), {}),
        ((1.0, 0.1, 2.0), {}),
        (("1", 0.1), {}),
        ((1.0,), {"Re": 1.0}),
        ((1.0, 0.1), {"g": 1}),
    ],
)
def test_argument_errors(args, kwargs):
    with pytest.raises(TypeError):
        Ellipsoid(*args, **kwargs)


def test_keywords_and_conversions():
    assert Ellipsoid(Re=1.0, f=0.5).Rp == 0.5
    assert Ellipsoid(f=0.5, Re=np.float32(2.0)).Rp == 1.0
    assert Ellipsoid(3, np.int64(0)).Re == 3.0


def test_immutability():
    e = Ellipsoid(1.0, 0.1)
    for name in ("Re", "f", "Rp"):
        with pytest.raises(AttributeError):
            setattr(e, name, 2.0)
    e.__init__(2.0, 0.2)
    assert (e.Re, e.f) == (1.0, 0.1)
    with pytest.raises(TypeError):
        e.__init__(2.0)
    with pytest.raises(AttributeError):
        e.anything = 1  # no instance dictionary
    with pytest.raises(TypeError):
        __import__("weakref").ref(e)


@pytest.mark.parametrize("operation", [pickle.dumps, copy.copy, copy.deepcopy])
def test_pickling_and_copying_are_refused(operation):
    with pytest.raises(TypeError, match=f"^{REFUSAL}$"):
        operation(Ellipsoid(1.0, 0.1))


def test_reduce_methods_argument_counts():
    e = Ellipsoid(1.0, 0.1)
    with pytest.raises(TypeError, match=REFUSAL):
        e.__setstate__(None)
    with pytest.raises(TypeError) as info:
        e.__setstate__()
    assert REFUSAL not in str(info.value)
    with pytest.raises(TypeError) as info:
        e.__reduce__(1)
    assert REFUSAL not in str(info.value)


def test_subclass_passes_arguments_through_allocation():
    class Named(Ellipsoid):
        def __init__(self, Re, f, name):
            super().__init__(Re, f)
            self.name = name

        def __new__(cls, Re, f, name):
            return super().__new__(cls, Re, f)

    e = Named(2.0, 0.25, "toy")
    assert (e.Rp, e.name) == (1.5, "toy")
    assert isinstance(e, Ellipsoid)
    assert e.lla_from_pos(np.array([3.0, 0.0, 0.0]))["alt"][0] == 1.0
    with pytest.raises(AssertionError):
        Named(-1.0, 0.25, "bad")


def test_module_namespace_and_method_metadata():
    assert ellipsoid_module.numpy is np
    assert ellipsoid_module.Real is __import__("numbers").Real
    for name, dtype in [
        ("SurfCoord_dtype", SurfCoord_dtype),
        ("LLA_dtype", LLA_dtype),
        ("ENU_dtype", ENU_dtype),
        ("AER_dtype", AER_dtype),
    ]:
        assert getattr(ellipsoid_module, name) is dtype
    assert Ellipsoid.__qualname__ == "Ellipsoid"
    assert Ellipsoid.__module__ == "orbalis.mathtools.ellipsoid.ellipsoid"
    assert Ellipsoid.__doc__.splitlines()[0] == "Ellipsoid(double Re, double f) -> None"
    assert "Must be greater than zero" in Ellipsoid.__doc__
    assert "Must be in the range [0.0, 1.0)" in Ellipsoid.__doc__
    m = Ellipsoid.lla_from_pos
    assert (
        m.__doc__.splitlines()[0]
        == "Ellipsoid.lla_from_pos(self, r: ndarray[double]) -> ndarray[LLA_dtype]"
    )
    assert m.__annotations__ == {"r": "ndarray[double]", "return": "ndarray[LLA_dtype]"}
    assert m.__name__ == "lla_from_pos" and m.__qualname__ == "Ellipsoid.lla_from_pos"
    assert Ellipsoid.pos_from_lla.__annotations__ == {
        "lat": "double | ndarray[double]",
        "lon": "double | ndarray[double]",
        "alt": "double | ndarray[double]",
        "return": "ndarray[double]",
    }
    e = Ellipsoid(1.0, 0.5)
    assert Ellipsoid.lla_from_pos(e, np.array([2.0, 0, 0]))["alt"][0] == 1.0
    with pytest.raises(TypeError):
        Ellipsoid.lla_from_pos(3, np.zeros(3))


@pytest.mark.parametrize(
    "dtype",
    [
        np.dtype([("lat", "<f8"), ("lon", "<f8"), ("alt", "<f8"), ("extra", "<f8")]),
        np.dtype([("lat", "<f4"), ("lon", "<f4"), ("alt", "<f4")]),
        np.dtype([("lat", ">f8"), ("lon", ">f8"), ("alt", ">f8")]),
        np.dtype(
            {
                "names": ["lat", "lon", "alt"],
                "formats": ["<f8"] * 3,
                "offsets": [0, 8, 16],
                "itemsize": 32,
            }
        ),
        np.dtype({"names": ["lat", "lon", "alt"], "formats": ["<f8"] * 3, "offsets": [0, 16, 8]}),
        np.dtype("<f8"),
    ],
)
def test_record_dtype_must_match_the_record_layout(monkeypatch, dtype):
    e = Ellipsoid(1.0, 0.5)
    monkeypatch.setattr(ellipsoid_module, "LLA_dtype", dtype)
    with pytest.raises(ValueError):
        e.lla_from_pos(np.array([2.0, 0.0, 0.0]))
    with pytest.raises(ValueError):
        e.lla_from_pos(np.zeros((2, 3)))
    # float results do not use the record dtype
    assert e.solve_reduced_lat_equation(np.array([2.0, 0.0, 0.0])) == 0.0


def test_field_names_are_not_compared(monkeypatch):
    renamed = np.dtype([("a", "<f8"), ("b", "<f8"), ("c", "<f8")])
    monkeypatch.setattr(ellipsoid_module, "LLA_dtype", renamed)
    result = Ellipsoid(1.0, 0.5).lla_from_pos(np.array([2.0, 0.0, 0.0]))
    assert result.dtype == renamed and result["c"][0] == 1.0


def test_errors_carry_traceback_entries_for_method_and_kernel():
    e = Ellipsoid(1.0, 0.5)
    with pytest.raises(AssertionError) as info:
        e.lla_from_pos(np.zeros((2, 4)))
    names = [entry.name for entry in info.traceback]
    assert "orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid.lla_from_pos" in names


def test_optimized_interpreter_skips_assertions(python_subprocess):
    # Without the shape assertions, short inputs fail on item access (IndexError) in the
    # typed and the item-protocol paths alike, and surplus columns and elements are ignored.
    out = python_subprocess(
        """
        import numpy as np
        from orbalis._testing import print_outcomes, same_bits
        from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
        e = Ellipsoid(-1.0, 2.0)
        print("radii:", e.Re, e.f, e.Rp)
        e = Ellipsoid(1.0, 0.1)
        ray = e.surf_pos_of_ray_first_intersection
        class Rows:
            ndim, shape = 2, (2, 3)
            def __getitem__(self, j):
                return np.zeros(2)
        print_outcomes([
            ("lla narrow rows", lambda: e.lla_from_pos(np.zeros((4, 2)))),
            ("lla short item rows", lambda: e.lla_from_pos(Rows())),
            ("solve one column", lambda: e.solve_reduced_lat_equation(np.zeros((3, 1)))),
            ("surf coord short", lambda: e.surf_coord_from_surf_pos(np.zeros(2))),
            ("surf pos lon short", lambda: e.surf_pos_from_surf_coord(np.zeros(5), np.zeros(4))),
            ("pos lon short", lambda: e.pos_from_lla(np.zeros(3), np.zeros(2), np.zeros(3))),
            ("aer narrow rows", lambda: e.aer_coords(np.ones((4, 2)), 0, 0, 0)),
            ("aer short item rows", lambda: e.aer_coords(Rows(), 0, 0, 0)),
            ("aer short vector", lambda: e.aer_coords(np.ones(2), 0, 0, 0)),
            ("ray short source", lambda: ray(np.ones(2), np.ones(3))),
            ("ray one-column directions", lambda: ray(np.ones(3), np.ones((3, 1)))),
            ("ray short direction", lambda: ray(np.ones(3), np.ones(2))),
            ("enu lon short", lambda: e.enu(np.ones(5), np.ones(4))),
            ("enu 2-d", lambda: e.enu(np.zeros((2, 2)), np.zeros((2, 2)))),
        ])
        r = np.arange(8.0).reshape(2, 4) + 2
        narrow = r[:, :3].copy()
        aer = lambda r: e.aer_coords(r, 0, 0, 0).tobytes()
        print("lla ignores surplus columns:", same_bits(e.lla_from_pos(r), e.lla_from_pos(narrow)))
        print("aer ignores surplus columns:", same_bits(aer(r), aer(narrow)))
        print("surf coord of 4:", e.surf_coord_from_surf_pos(np.array([1.0, 0, 0, 9])).shape)
        print("ray of 4 elements:", ray([3.0, 0, 0, 9], np.array([-1.0, 0, 0, 5])).tolist())
        print("enu lon long:", e.enu(np.zeros(3), np.zeros(4)).shape)
        """,
        "-O",
    ).stdout
    assert labelled_lines(out) == {
        "radii": "-1.0 2.0 1.0",
        **{
            label: "IndexError"
            for label in [
                "lla narrow rows",
                "lla short item rows",
                "solve one column",
                "surf coord short",
                "surf pos lon short",
                "pos lon short",
                "aer narrow rows",
                "aer short item rows",
                "aer short vector",
                "ray short source",
                "ray one-column directions",
                "ray short direction",
                "enu lon short",
            ]
        },
        "enu 2-d": "ValueError",
        "lla ignores surplus columns": "True",
        "aer ignores surplus columns": "True",
        "surf coord of 4": "(1,)",
        "ray of 4 elements": "[1.0, 0.0, 0.0]",
        "enu lon long": "(3,)",
    }


IMPORT_WITH_STAND_IN = """
import ctypes, sys, types
import orbalis.mathtools.lingeom.lingeom as real
capi = dict(real.__pyx_capi__)
{edit}
stand_in = types.ModuleType("orbalis.mathtools.lingeom.lingeom")
stand_in.__pyx_capi__ = capi
sys.modules["orbalis.mathtools.lingeom.lingeom"] = stand_in
try:
    import orbalis.mathtools.ellipsoid.ellipsoid
except Exception as exc:
    print(type(exc).__name__, exc)
else:
    print("imported")
"""

WRONG_SIGNATURE = """
new = ctypes.pythonapi.PyCapsule_New
new.restype = ctypes.py_object
new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
capi["dot"] = new(1, b"float (double *, double *)", None)
"""


@pytest.mark.parametrize(
    "edit, expected",
    [
        ("", "imported"),
        ("del capi['norm']", "ImportError"),
        ("del capi['cross']", "imported"),  # not bound by the ellipsoid module
        (WRONG_SIGNATURE, "TypeError"),
    ],
)
def test_import_binds_lingeom_kernels_by_exact_signature(python_subprocess, edit, expected):
    out = python_subprocess(IMPORT_WITH_STAND_IN.format(edit=edit)).stdout
    assert out.split()[0] == expected, out


@pytest.mark.parametrize(
    "module", ["orbalis.mathtools.ellipsoid.ellipsoid", "orbalis.mathtools.lingeom.lingeom"]
)
def test_second_initialisation_is_refused(python_subprocess, module):
    out = python_subprocess(
        f"""
        import importlib, sys
        importlib.import_module({module!r})
        del sys.modules[{module!r}]
        try:
            importlib.import_module({module!r})
        except RuntimeError as exc:
            print("RuntimeError", exc)
        """
    ).stdout
    assert out.startswith("RuntimeError"), out


HEAPTYPE, IMMUTABLETYPE, BASETYPE, HAVE_GC = 1 << 9, 1 << 8, 1 << 10, 1 << 14


def test_type_is_an_immutable_subclassable_heap_type_without_gc():
    flags = Ellipsoid.__flags__
    assert flags & HEAPTYPE and flags & IMMUTABLETYPE and flags & BASETYPE
    assert not flags & HAVE_GC  # an Ellipsoid holds no references
    with pytest.raises(TypeError):
        Ellipsoid.lla_from_pos = None
    with pytest.raises(TypeError):
        Ellipsoid.extra = 1
    assert type(Ellipsoid.__dict__["__pyx_vtable__"]).__name__ == "PyCapsule"
    e = Ellipsoid(1.0, 0.5)
    assert not hasattr(e, "__dict__")
    with pytest.raises(TypeError):
        __import__("weakref").ref(e)

    class Sub(Ellipsoid):
        pass

    Sub.extra = 1  # a Python subclass stays mutable
    assert Sub(1.0, 0.5).lla_from_pos(np.array([2.0, 0.0, 0.0])).tobytes() == (
        e.lla_from_pos(np.array([2.0, 0.0, 0.0])).tobytes()
    )


def test_many_instances_and_subclass_instances_release_their_type(python_subprocess):
    # A heap type's instances own a reference to it: creating and dropping many must leave
    # its reference count where it was.
    out = python_subprocess(
        """
        import sys
        from orbalis.mathtools.ellipsoid.ellipsoid import Ellipsoid
        from orbalis._testing._kernels import InstrumentedEllipsoid
        class Sub(Ellipsoid):
            pass
        for cls in (Ellipsoid, Sub, InstrumentedEllipsoid):
            before = sys.getrefcount(cls)
            objs = [cls(1.0, 0.5) for _ in range(1000)]
            during = sys.getrefcount(cls)
            del objs
            print(cls.__name__, during - before, sys.getrefcount(cls) - before)
        """
    ).stdout.splitlines()
    assert out == ["Ellipsoid 1000 0", "Sub 1000 0", "InstrumentedEllipsoid 1000 0"]
