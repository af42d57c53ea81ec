"""The lingeom kernel table: capsules, signatures, and the kernels called through ctypes."""

import ctypes
import math
import sys

import numpy as np
import pytest

from orbalis.mathtools.lingeom import lingeom

SIGNATURES = {
    "scale": "void (double const , double *, double *)",
    "add": "void (double *, double *, double *)",
    "sub": "void (double *, double *, double *)",
    "dot": "double (double *, double *)",
    "cross": "void (double *, double *, double *)",
    "norm": "double (double *)",
    "norm_array": "__Pyx_memviewslice (__Pyx_memviewslice)",
    "angle": "double (double *, double *)",
    "normalize": "void (double *, double *)",
    "normalize_array": "__Pyx_memviewslice (__Pyx_memviewslice)",
}

_get_name = ctypes.pythonapi.PyCapsule_GetName
_get_name.restype = ctypes.c_char_p
_get_name.argtypes = [ctypes.py_object]
_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = ctypes.c_void_p
_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

Vec = ctypes.POINTER(ctypes.c_double)
D = ctypes.c_double


class ArrayView(ctypes.Structure):
    _fields_ = [
        ("owner", ctypes.c_void_p),
        ("data", ctypes.c_void_p),
        ("shape", ctypes.c_ssize_t * 8),
        ("strides", ctypes.c_ssize_t * 8),
        ("suboffsets", ctypes.c_ssize_t * 8),
    ]


PROTOTYPES = {
    "scale": ctypes.CFUNCTYPE(None, D, Vec, Vec),
    "add": ctypes.CFUNCTYPE(None, Vec, Vec, Vec),
    "sub": ctypes.CFUNCTYPE(None, Vec, Vec, Vec),
    "dot": ctypes.CFUNCTYPE(D, Vec, Vec),
    "cross": ctypes.CFUNCTYPE(None, Vec, Vec, Vec),
    "norm": ctypes.CFUNCTYPE(D, Vec),
    "angle": ctypes.CFUNCTYPE(D, Vec, Vec),
    "normalize": ctypes.CFUNCTYPE(None, Vec, Vec),
    # The array kernels call into NumPy: they must run with the interpreter lock held.
    "norm_array": ctypes.PYFUNCTYPE(ArrayView, ArrayView),
    "normalize_array": ctypes.PYFUNCTYPE(ArrayView, ArrayView),
}


def kernel(name):
    capsule = lingeom.__pyx_capi__[name]
    address = _get_pointer(capsule, _get_name(capsule))
    return PROTOTYPES[name](address)


def vec(*values):
    return (ctypes.c_double * 3)(*values)


def as_list(v):
    return [v[0], v[1], v[2]]


def test_capi_lists_ten_capsules_in_table_order_with_exact_signatures():
    capi = lingeom.__pyx_capi__
    assert list(capi) == list(SIGNATURES)
    for name, signature in SIGNATURES.items():
        assert type(capi[name]).__name__ == "PyCapsule"
        assert _get_name(capi[name]).decode() == signature
    assert lingeom.numpy is np


@pytest.mark.parametrize(
    "name, a, b, expected",
    [
        ("add", (1.0, 2.0, 3.0), (0.5, -2.0, 1e300), [1.5, 0.0, 1e300]),
        ("sub", (1.0, 2.0, 3.0), (0.5, -2.0, 3.0), [0.5, 4.0, 0.0]),
        ("cross", (1.0, 0.0, 0.0), (0.0, 1.0, 0.0), [0.0, 0.0, 1.0]),
        ("cross", (1.0, 2.0, 3.0), (4.0, 5.0, 6.0), [-3.0, 6.0, -3.0]),
    ],
)
def test_binary_kernels(name, a, b, expected):
    out = vec(0, 0, 0)
    kernel(name)(vec(*a), vec(*b), out)
    assert as_list(out) == expected


def test_scale_dot_norm_values():
    out = vec(0, 0, 0)
    kernel("scale")(2.5, vec(1.0, -2.0, 0.1), out)
    assert as_list(out) == [2.5, -5.0, 0.1 * 2.5]
    assert kernel("dot")(vec(1, 0, 0), vec(-1, 0, 0)) == -1.0
    # Left-to-right bracketing: (a0 b0 + a1 b1) + a2 b2.
    a, b = (0.1, 0.2, 0.3), (0.7, 1e-17, 3.3)
    assert kernel("dot")(vec(*a), vec(*b)) == (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]
    assert kernel("norm")(vec(3, 4, 12)) == 13.0
    assert kernel("norm")(vec(1e200, 0, 0)) == math.inf
    assert kernel("norm")(vec(1e-200, 0, 0)) == 0.0


def test_normalize_values_and_degenerate_inputs():
    out = vec(0, 0, 0)
    kernel("normalize")(vec(0.0, 3.0, 4.0), out)
    k = 1.0 / 5.0
    assert as_list(out) == [0.0, 3.0 * k, 4.0 * k]
    kernel("normalize")(vec(0, 0, 0), out)
    assert all(math.isnan(x) for x in as_list(out))
    kernel("normalize")(vec(math.inf, 1.0, 0.0), out)
    assert math.isnan(out[0]) and out[1] == 0.0 and out[2] == 0.0


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ((1, 0, 0), (1, 0, 0), 0.0),
        # 13 / sqrt(13) / sqrt(13) rounds to 1.0000000000000002: clamped, not NaN.
        ((0, 2, 3), (0, 2, 3), 0.0),
        ((0, 2, 3), (0, -2, -3), math.pi),
        ((1, 0, 0), (0, 1, 0), math.pi / 2),
        ((1, 0, 0), (-1, 0, 0), math.pi),
        (
            (1, 2, 3),
            (-2, 0.5, 7),
            math.acos((((-2 + 1.0) + 21) / math.sqrt(14)) / math.sqrt(53.25)),
        ),
    ],
)
def test_angle(a, b, expected):
    assert kernel("angle")(vec(*a), vec(*b)) == expected


def test_angle_with_zero_vector_is_nan():
    assert math.isnan(kernel("angle")(vec(0, 0, 0), vec(1, 0, 0)))


@pytest.mark.parametrize("name", ["scale", "add", "sub", "normalize", "cross"])
def test_in_place_output(name):
    a0, b0 = (1.0, 2.0, 3.0), (4.0, -5.0, 6.5)
    expected = vec(0, 0, 0)
    fn = kernel(name)
    if name == "scale":
        fn(3.0, vec(*a0), expected)
        a = vec(*a0)
        fn(3.0, a, a)
    elif name == "normalize":
        fn(vec(*a0), expected)
        a = vec(*a0)
        fn(a, a)
    else:
        fn(vec(*a0), vec(*b0), expected)
        a = vec(*a0)
        fn(a, vec(*b0), a)
        b = vec(*b0)
        fn(vec(*a0), b, b)
        assert as_list(b) == as_list(expected)
    assert as_list(a) == as_list(expected)


# -- array kernels ----------------------------------------------------------------------


def view_of(array):
    view = ArrayView()
    view.data = array.ctypes.data if array.size else array.__array_interface__["data"][0]
    for d in range(array.ndim):
        view.shape[d] = array.shape[d]
        view.strides[d] = array.strides[d]
        view.suboffsets[d] = -1
    return view


def call_array_kernel(name, array):
    """Calls an array kernel; returns the result array and the record it came in."""
    result = kernel(name)(view_of(array))
    assert result.owner, "a failing kernel raises through PYFUNCTYPE"
    owner = ctypes.cast(ctypes.c_void_p(result.owner), ctypes.py_object).value
    ctypes.pythonapi.Py_DecRef(ctypes.py_object(owner))  # the record's own reference
    return owner, result


def norms(a):
    return np.sqrt((a[:, 0] * a[:, 0] + a[:, 1] * a[:, 1]) + a[:, 2] * a[:, 2])


BIG = np.arange(60.0).reshape(10, 6) * 0.37 - 3.0


@pytest.mark.parametrize(
    "array",
    [
        np.array([[3.0, 4.0, 12.0], [0.0, 0.0, 0.0], [1e-3, -2.0, 7.5]]),
        BIG[::2, :3],  # every second row of a wider array
        BIG[:, 3:],  # a column slice
        np.asfortranarray(BIG[:, 1:4]),
        np.ascontiguousarray(BIG[:3, :]).T,  # a C-ordered 3 x n array viewed as n x 3
        np.zeros((0, 3)),
    ],
)
def test_array_kernels_read_strided_inputs(array):
    result, view = call_array_kernel("norm_array", array)
    assert result.shape == (array.shape[0],) and result.dtype == np.float64
    assert view.shape[0] == array.shape[0] and view.suboffsets[0] == -1
    np.testing.assert_array_equal(result, norms(array))

    unit, view = call_array_kernel("normalize_array", array)
    assert unit.shape == (array.shape[0], 3) and unit.flags.c_contiguous
    assert view.shape[:2] == [array.shape[0], 3]
    with np.errstate(divide="ignore", invalid="ignore"):
        k = 1.0 / norms(array)
        np.testing.assert_array_equal(unit, array[:, :3] * k[:, None])


def test_array_kernel_result_is_owned_by_the_record():
    array = np.ones((4, 3))
    result, view = call_array_kernel("normalize_array", array)
    assert view.data == result.ctypes.data
    # ours (the local name) plus getrefcount's argument: the record's reference was released
    assert sys.getrefcount(result) == 2
    assert sys.getrefcount(array) == 2  # the input view is never retained


@pytest.mark.parametrize("name", ["norm_array", "normalize_array"])
def test_array_kernels_refuse_rows_shorter_than_three(name):
    with pytest.raises(ValueError, match="second extent 2"):
        kernel(name)(view_of(np.ones((5, 2))))


# The array kernels call `numpy.zeros` through the module's global `numpy`, which code can
# rebind. Each case rebinds it to a namespace whose zeros() returns something else and
# prints one labelled line: the kernel must refuse the result instead of writing past it.
REBOUND_NUMPY = """
import ctypes, types
import numpy as np
from orbalis.mathtools.lingeom import lingeom

class ArrayView(ctypes.Structure):
    _fields_ = [("owner", ctypes.c_void_p), ("data", ctypes.c_void_p),
                ("shape", ctypes.c_ssize_t * 8), ("strides", ctypes.c_ssize_t * 8),
                ("suboffsets", ctypes.c_ssize_t * 8)]

get_name = ctypes.pythonapi.PyCapsule_GetName
get_name.restype, get_name.argtypes = ctypes.c_char_p, [ctypes.py_object]
get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
get_pointer.restype, get_pointer.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]

def kernel(name):
    capsule = lingeom.__pyx_capi__[name]
    address = get_pointer(capsule, get_name(capsule))
    return ctypes.PYFUNCTYPE(ArrayView, ArrayView)(address)

rows = np.ones((4096, 3))
view = ArrayView(data=rows.ctypes.data)
view.shape[:2], view.strides[:2], view.suboffsets[:2] = rows.shape, rows.strides, (-1, -1)

cases = {
    "short": lambda shape, dtype: np.zeros(1, dtype),
    "short-rows": lambda shape, dtype: np.zeros((1,) + tuple(shape)[1:], dtype),
    "narrow": lambda shape, dtype: np.zeros(tuple(shape)[:1] + (2,) * (len(shape) - 1), dtype),
    "float32": lambda shape, dtype: np.zeros(shape, np.float32),
    "read-only": lambda shape, dtype: np.broadcast_to(np.zeros(1), shape),
    "list": lambda shape, dtype: [0.0] * shape[0],
}
for name in ("norm_array", "normalize_array"):
    for case, zeros in cases.items():
        lingeom.numpy = types.SimpleNamespace(zeros=zeros, double=np.double)
        try:
            kernel(name)(view)
            outcome = "accepted"
        except ValueError as error:
            outcome = "ValueError" + (" naming the lengths" if "4096" in str(error) else "")
        print(name, case, outcome, flush=True)
lingeom.numpy = np
print("ok", kernel("norm_array")(view).shape[0])
"""


def test_array_kernels_check_what_a_rebound_numpy_returns(python_subprocess):
    lines = python_subprocess(REBOUND_NUMPY, check=False).stdout.splitlines()
    lengths, refused = "ValueError naming the lengths", "ValueError"
    outcomes = {  # case: (norm_array, normalize_array); "narrow" is (n,) for norm_array
        "short": (lengths, refused),  # 1-D where normalize_array needs 2-D
        "short-rows": (lengths, lengths),
        "narrow": ("accepted", refused),
        "float32": (refused, refused),
        "read-only": (refused, refused),
        "list": (refused, refused),
    }
    want = [f"norm_array {case} {pair[0]}" for case, pair in outcomes.items()]
    want += [f"normalize_array {case} {pair[1]}" for case, pair in outcomes.items()]
    assert lines == want + ["ok 4096"]
