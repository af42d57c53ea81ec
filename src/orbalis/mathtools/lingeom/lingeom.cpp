// The lingeom extension module: publishes the 3-vector kernels of lingeom.hpp, and the
// two array kernels defined here, in the dict `__pyx_capi__` (kernel name -> capsule
// whose name is the kernel's signature string). It has no Python-callable function.
#include "lingeom.hpp"

#include "pyref.hpp"

#include <numpy/arrayobject.h>

namespace orbalis::lingeom {
namespace {

using py::Ref;

constexpr py::Literal kModule = "orbalis.mathtools.lingeom.lingeom";

// The module namespace, in which the array kernels look up `numpy` at each call. Set once
// by module execution; the module lives until the process ends.
PyObject* g_module_dict = nullptr;

// `numpy.zeros(shape=shape, dtype=numpy.double)`, looked up through the module namespace
// (then the built-ins) like a global name of Python code. Whatever the name is bound to,
// the caller checks what the call returned before writing into it.
Ref zeros(PyObject* shape) {
    // Owned: the attribute lookups below may run code that rebinds the global.
    Ref numpy = Ref::borrow(PyDict_GetItemString(g_module_dict, "numpy"));
    if (!numpy) numpy = Ref::borrow(PyDict_GetItemString(PyEval_GetBuiltins(), "numpy"));
    if (!numpy) {
        PyErr_SetString(PyExc_NameError, "name 'numpy' is not defined");
        return {};
    }
    Ref func = Ref::steal(PyObject_GetAttrString(numpy.get(), "zeros"));
    if (!func) return {};
    Ref dtype = Ref::steal(PyObject_GetAttrString(numpy.get(), "double"));
    if (!func || !dtype) return {};
    Ref args = Ref::steal(PyTuple_New(0));
    Ref kwargs = Ref::steal(Py_BuildValue("{s:O,s:O}", "shape", shape, "dtype", dtype.get()));
    if (!args || !kwargs) return {};
    return Ref::steal(PyObject_Call(func.get(), args.get(), kwargs.get()));
}

// Takes the result of zeros() as a writable float64 view of extents `dims[0..ndim)` and
// fills `view` with it; the view owns the reference. Every property the kernels write
// through is checked, since `numpy` is an ordinary global that may have been rebound:
// an array of another length would otherwise be written past its end.
bool take_double_view(Ref array, int ndim, const npy_intp* dims, ArrayView& view) {
    if (!PyArray_Check(array.get())) {
        PyErr_Format(PyExc_ValueError, "numpy.zeros did not return an ndarray, got %.200s",
                     Py_TYPE(array.get())->tp_name);
        return false;
    }
    auto* arr = reinterpret_cast<PyArrayObject*>(array.get());
    if (PyArray_NDIM(arr) != ndim) {
        PyErr_Format(PyExc_ValueError,
                     "Buffer has wrong number of dimensions (expected %d, got %d)", ndim,
                     PyArray_NDIM(arr));
        return false;
    }
    for (int d = 0; d < ndim; ++d) {
        if (PyArray_DIM(arr, d) != dims[d]) {
            PyErr_Format(
                PyExc_ValueError, "numpy.zeros returned %zd elements in dimension %d, expected %zd",
                static_cast<Py_ssize_t>(PyArray_DIM(arr, d)), d, static_cast<Py_ssize_t>(dims[d]));
            return false;
        }
    }
    if (PyArray_TYPE(arr) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(arr) ||
        !PyArray_ISWRITEABLE(arr) || !PyArray_ISALIGNED(arr)) {
        PyErr_SetString(PyExc_ValueError,
                        "Buffer dtype mismatch, expected a writable, aligned 'double' array");
        return false;
    }
    view.data = PyArray_BYTES(arr);
    for (int d = 0; d < ndim; ++d) {
        view.shape[d] = PyArray_DIM(arr, d);
        view.strides[d] = PyArray_STRIDE(arr, d);
        view.suboffsets[d] = -1;
    }
    view.owner = array.release();
    return true;
}

// Rows of fewer than three elements would be read past their end, and indirect
// (suboffset) dimensions are not followed: both are refused.
bool check_rows_of_three(const ArrayView& a, const char* kernel) {
    if (a.shape[1] < 3) {
        PyErr_Format(PyExc_ValueError, "%s needs an n x 3 input view, got second extent %zd",
                     kernel, static_cast<Py_ssize_t>(a.shape[1]));
        return false;
    }
    if (a.suboffsets[0] >= 0 || a.suboffsets[1] >= 0) {
        PyErr_Format(PyExc_ValueError, "%s does not take indirect input views", kernel);
        return false;
    }
    return true;
}

inline const double& at(const ArrayView& a, std::ptrdiff_t i, int k) {
    return *reinterpret_cast<const double*>(a.data + i * a.strides[0] + k * a.strides[1]);
}

ArrayView norm_array(ArrayView a) {
    ArrayView out{};
    if (!check_rows_of_three(a, "norm_array")) return out;
    const std::ptrdiff_t n = a.shape[0];
    const npy_intp dims[] = {n};
    Ref shape = Ref::steal(Py_BuildValue("(n)", static_cast<Py_ssize_t>(n)));
    if (!shape) return out;
    Ref result = zeros(shape.get());
    if (!result || !take_double_view(std::move(result), 1, dims, out)) return ArrayView{};
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const double a0 = at(a, i, 0), a1 = at(a, i, 1), a2 = at(a, i, 2);
        *reinterpret_cast<double*>(out.data + i * out.strides[0]) =
            std::sqrt((a0 * a0 + a1 * a1) + a2 * a2);
    }
    return out;
}

ArrayView normalize_array(ArrayView a) {
    ArrayView out{};
    if (!check_rows_of_three(a, "normalize_array")) return out;
    const std::ptrdiff_t n = a.shape[0];
    const npy_intp dims[] = {n, 3};
    Ref shape = Ref::steal(Py_BuildValue("(ni)", static_cast<Py_ssize_t>(n), 3));
    if (!shape) return out;
    Ref result = zeros(shape.get());
    if (!result || !take_double_view(std::move(result), 2, dims, out)) return ArrayView{};
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const double a0 = at(a, i, 0), a1 = at(a, i, 1), a2 = at(a, i, 2);
        const double m = std::sqrt((a0 * a0 + a1 * a1) + a2 * a2);
        const double k = 1.0 / m;
        char* row = out.data + i * out.strides[0];
        *reinterpret_cast<double*>(row) = a0 * k;
        *reinterpret_cast<double*>(row + out.strides[1]) = a1 * k;
        *reinterpret_cast<double*>(row + 2 * out.strides[1]) = a2 * k;
    }
    return out;
}

struct Export {
    const char* name;
    void* entry;
    const char* signature;
};

template <class Fn>
void* entry_point(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

int publish(PyObject* module, const Export& e) {
    Ref capi = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!capi) {
        PyErr_Clear();
        capi = Ref::steal(PyDict_New());
        if (!capi || PyObject_SetAttrString(module, "__pyx_capi__", capi.get()) < 0) return -1;
    }
    Ref capsule = Ref::steal(PyCapsule_New(e.entry, e.signature, nullptr));
    if (!capsule) return -1;
    return PyDict_SetItemString(capi.get(), e.name, capsule.get());
}

int exec_module(PyObject* module) {
    const Export exports[] = {
        {"scale", entry_point<ScaleFn>(&scale), kScaleSignature},
        {"add", entry_point<BinaryFn>(&add), kBinarySignature},
        {"sub", entry_point<BinaryFn>(&sub), kBinarySignature},
        {"dot", entry_point<DotFn>(&dot), kDotSignature},
        {"cross", entry_point<BinaryFn>(&cross), kBinarySignature},
        {"norm", entry_point<NormFn>(&norm), kNormSignature},
        {"norm_array", entry_point<ArrayFn>(&norm_array), kArraySignature},
        {"angle", entry_point<DotFn>(&angle), kDotSignature},
        {"normalize", entry_point<NormalizeFn>(&normalize), kNormalizeSignature},
        {"normalize_array", entry_point<ArrayFn>(&normalize_array), kArraySignature},
    };
    for (const Export& e : exports)
        if (publish(module, e) < 0) return -1;
    if (PyArray_ImportNumPyAPI() < 0) return -1;
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyModule_AddObjectRef(module, "numpy", numpy.get()) < 0) return -1;
    g_module_dict = PyModule_GetDict(module);
    return 0;
}

}  // namespace
}  // namespace orbalis::lingeom

PyMODINIT_FUNC PyInit_lingeom() {
    return orbalis::py::init_module<orbalis::lingeom::exec_module>(
        orbalis::lingeom::kModule.text,
        "Native 3-vector kernels for other extension modules.\n\n"
        "Nothing here is callable from Python: the kernels are published in the dict\n"
        "``__pyx_capi__`` (kernel name -> capsule whose name is the C signature string) and are\n"
        "called directly by the native modules that bind them.");
}
