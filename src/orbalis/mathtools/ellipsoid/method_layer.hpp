// The table-driven layer behind the Python-level methods of Ellipsoid. A method is one row
// (`MethodRow`): its name, argument names, the kernel slot it runs, the module's direct
// form of that kernel, the layout of its result and its docstring. Three templates turn a
// row into a method, one per calling convention: the latitude pair (one input, output
// shaped by numpy.zeros_like), columns in (several one-dimensional inputs or numbers) and
// rows in (one 3-vector or rows of them). `boundary` wraps every method and adds its
// traceback entry once, when it fails; the bodies below only return NULL.
#pragma once

#include "convention.hpp"

#include <tuple>
#include <type_traits>

namespace orbalis::ellipsoid {

// What a method returns: Python floats (one input) or float64 arrays of them; 3-vectors,
// (3,) or (n, 3) float64; or records of the row's RecordLayout, (1,) or (n,).
enum class Result { floats, vectors, records };

template <class Kernel>
struct MethodRow {
    const char* name;
    const char* const* arg_names;
    int arg_count;
    Kernel EllipsoidKernels::* slot;
    // The module's kernel for the slot, called directly (see method_kernel).
    std::type_identity_t<Kernel> direct;
    Result result;
    const RecordLayout* records;  // the record layout when result == Result::records
    bool ndim_first;  // rows in: single vector when r.ndim == 1 (then assert shape (3,))
    const char* doc;
    const char* const* annotations;
};

// The kernel a method runs for `e`: the direct form when `e` has the module's own table
// (the same bits, without the slot lookups and error tests of nested kernels), e's slot
// otherwise, so a native subclass's replaced slot is honoured.
template <const auto& row>
inline auto method_kernel(EllipsoidObject* e) {
    return e->vtab == &kKernelTable ? row.direct : e->vtab->*row.slot;
}

// The parameter types of a kernel after the object.
template <class Kernel>
struct KernelParams;
template <class R, class... Args>
struct KernelParams<R (*)(EllipsoidObject*, Args...)> {
    template <std::size_t i>
    using type = std::tuple_element_t<i, std::tuple<Args...>>;
};

template <const auto& row>
inline bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    return py::bind_arguments(row.name, args, nargs, kwnames, row.arg_names, row.arg_count,
                              row.arg_count, out) == 0;
}

// The method of `row` with body `impl`: the traceback entry is added here, once.
template <const auto& row, py::MethodImpl impl>
PyObject* boundary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* result = impl(self, args, nargs, kwnames);
    if (!result) add_traceback_entry(row.name);
    return result;
}

template <const auto& row, py::MethodImpl impl>
constexpr py::AnnotatedMethodDef define_method() {
    return {row.name, &boundary<row, impl>, row.doc, row.annotations};
}

// A (3,) float64 array holding `v`.
inline PyObject* vector_result(const double* v) {
    double* out;
    Ref result = new_doubles(3, 0, out);
    if (result) std::memcpy(out, v, 3 * sizeof(double));
    return result.release();
}

// -- latitude pair -----------------------------------------------------------------------------

// `numpy.zeros_like(x)` taken as a writable one-dimensional view of doubles: an input
// that is not a one-dimensional float64 array is refused here, before anything is read.
Ref zeros_like_doubles(PyObject* x, double*& data);

// A number gives a Python float; an array fills numpy.zeros_like(x) over x.shape[0].
template <const auto& row>
PyObject* latitude_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    PyObject* x;
    if (!bind<row>(args, nargs, kwnames, &x)) return nullptr;
    EllipsoidObject* e = as_ellipsoid(self);
    const auto kernel = method_kernel<row>(e);
    const int scalar = is_real(x);
    if (scalar < 0) return nullptr;
    if (scalar) {
        double value;
        if (!as_double(x, value)) return nullptr;
        const double result = kernel(e, value);
        if (PyErr_Occurred()) return nullptr;
        return PyFloat_FromDouble(result);
    }
    double* out;
    Ref result = zeros_like_doubles(x, out);
    if (!result) return nullptr;
    const Py_ssize_t n = batch_length(x);
    if (n < 0) return nullptr;
    // zeros_like may be overridden (__array_function__) or see another array than x's
    // items (__array__): the loop writes n elements, so the output must have them.
    const npy_intp length = PyArray_DIM(reinterpret_cast<PyArrayObject*>(result.get()), 0);
    if (length != n) {
        PyErr_Format(PyExc_ValueError,
                     "zeros_like gave an output of length %zd for an input of length %zd "
                     "(shape[0])",
                     static_cast<Py_ssize_t>(length), n);
        return nullptr;
    }
    const bool ok = for_each_element<1>(
        &x, n, [&](const double* v, Py_ssize_t i) { out[i] = kernel(e, v[0]); });
    return ok ? result.release() : nullptr;
}

// -- columns in ------------------------------------------------------------------------------

// Length of the batch for `numpy.zeros(shape=lat.shape, ...)` taken as a one-dimensional
// view: a shape of another length (only reachable with the checks skipped under
// `python -O`) cannot be viewed so and is refused before anything is computed.
inline Py_ssize_t one_dimensional_length(PyObject* obj) {
    if (PyArray_CheckExact(obj)) {
        auto* arr = reinterpret_cast<PyArrayObject*>(obj);
        if (PyArray_NDIM(arr) == 1) return PyArray_DIM(arr, 0);
    }
    Ref shape = Ref::steal(PyObject_GetAttrString(obj, "shape"));
    if (!shape) return -1;
    if (PyTuple_Check(shape.get()) && PyTuple_GET_SIZE(shape.get()) != 1) {
        PyErr_Format(PyExc_ValueError,
                     "Buffer has wrong number of dimensions (expected 1, got %zd)",
                     PyTuple_GET_SIZE(shape.get()));
        return -1;
    }
    return batch_length(obj);
}

// Two or three numbers (a SurfCoord or an LLA) give one result; as many one-dimensional
// arrays of one length give one result per element.
template <const auto& row>
PyObject* columns_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    constexpr int count = row.arg_count;
    static_assert(count == 2 || count == 3);
    using Params = KernelParams<decltype(row.direct)>;
    using Input = typename Params::template type<0>;  // SurfCoord or LLA, by value
    using Output = std::remove_pointer_t<typename Params::template type<1>>;
    const auto input = [](const double* v) {
        if constexpr (count == 2)
            return Input{v[0], v[1]};
        else
            return Input{v[0], v[1], v[2]};
    };
    PyObject* inputs[count];
    if (!bind<row>(args, nargs, kwnames, inputs)) return nullptr;
    EllipsoidObject* e = as_ellipsoid(self);
    const auto kernel = method_kernel<row>(e);
    const int scalar = all_real(inputs, count);
    if (scalar < 0) return nullptr;
    if (scalar) {
        double v[count];
        if (!read_doubles(inputs, count, v)) return nullptr;
        if constexpr (row.result == Result::records) {
            char* data;
            Ref result = new_records(*row.records, 1, data);
            if (!result) return nullptr;
            kernel(e, input(v), reinterpret_cast<Output*>(data));
            return PyErr_Occurred() ? nullptr : result.release();
        } else {
            double r[3];
            kernel(e, input(v), r);
            return PyErr_Occurred() ? nullptr : vector_result(r);
        }
    }
    if (!check_same_1d(inputs, count)) return nullptr;
    if constexpr (row.result == Result::records) {
        const Py_ssize_t n = one_dimensional_length(inputs[0]);
        if (n < 0) return nullptr;
        char* data;
        Ref result = new_records(*row.records, n, data);
        if (!result) return nullptr;
        auto* records = reinterpret_cast<Output*>(data);
        const bool ok = for_each_element<count>(
            inputs, n, [&](const double* v, Py_ssize_t i) { kernel(e, input(v), records + i); });
        return ok ? result.release() : nullptr;
    } else {
        const Py_ssize_t n = batch_length(inputs[0]);
        if (n < 0) return nullptr;
        double* out;
        Ref result = new_doubles(n, 3, out);
        if (!result) return nullptr;
        const bool ok = for_each_element<count>(
            inputs, n, [&](const double* v, Py_ssize_t i) { kernel(e, input(v), out + 3 * i); });
        return ok ? result.release() : nullptr;
    }
}

// -- rows in -----------------------------------------------------------------------------------

// One 3-vector gives a float or one record; rows of them give one result per row.
template <const auto& row>
PyObject* rows_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* r;
    if (!bind<row>(args, nargs, kwnames, &r)) return nullptr;
    EllipsoidObject* e = as_ellipsoid(self);
    const auto kernel = method_kernel<row>(e);
    Py_ssize_t n;
    const int single = single_vector_or_rows(r, row.ndim_first, n);
    if (single < 0) return nullptr;
    if constexpr (row.result == Result::records) {
        using Output =
            std::remove_pointer_t<typename KernelParams<decltype(row.direct)>::template type<1>>;
        char* data;
        if (single) {
            Ref result = new_records(*row.records, 1, data);
            double v[3];
            if (!result || !read_vector(r, v)) return nullptr;
            kernel(e, v, reinterpret_cast<Output*>(data));
            return PyErr_Occurred() ? nullptr : result.release();
        }
        Ref result = new_records(*row.records, n, data);
        if (!result) return nullptr;
        auto* records = reinterpret_cast<Output*>(data);
        const bool ok =
            for_each_row(r, n, [&](double* v, Py_ssize_t j) { kernel(e, v, records + j); });
        return ok ? result.release() : nullptr;
    } else {
        static_assert(row.result == Result::floats);
        if (single) {
            double v[3];
            if (!read_vector(r, v)) return nullptr;
            const double value = kernel(e, v);
            return PyErr_Occurred() ? nullptr : PyFloat_FromDouble(value);
        }
        double* out;
        Ref result = new_doubles(n, 0, out);
        if (!result) return nullptr;
        const bool ok = for_each_row(r, n, [&](double* v, Py_ssize_t j) { out[j] = kernel(e, v); });
        return ok ? result.release() : nullptr;
    }
}

}  // namespace orbalis::ellipsoid
