// The calling conventions shared by the Python-level methods of Ellipsoid: how a method
// tells one input from a batch, reads input elements, allocates its result and reports
// errors.
//
// Inputs are read in one of two ways with identical results. A plain NumPy array
// (exactly ndarray, native byte order, a bool, integer or floating dtype) whose shape
// covers every element the loop will read is read through typed strided access; anything
// else (object arrays, ndarray subclasses, array-likes with `ndim`/`shape`, short inputs
// under `python -O`) is read element by element through the item protocol and the float
// protocol. A typed read converts each element exactly as the element's own `__float__`
// would (the C conversion to double), so both paths give the same bits, and a typed read
// is only chosen where the item path could not raise, so they raise the same exceptions.
#pragma once

#include "ellipsoid.hpp"
#include "method.hpp"

#include <cstring>

#define PY_ARRAY_UNIQUE_SYMBOL orbalis_ellipsoid_ARRAY_API
#ifndef ORBALIS_ELLIPSOID_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace orbalis::ellipsoid {

using py::Ref;

// Module state, set once while the module is imported and never changed afterwards.
struct ModuleState {
    PyObject* dict = nullptr;        // module namespace: numpy, Real and the dtypes
    bool assertions_enabled = true;  // false under `python -O`
    // Interned names of the globals the methods look up at each call.
    PyObject* numpy_name = nullptr;
    PyObject* real_name = nullptr;
    PyObject* dtype_names[4] = {};  // in the order of kRecordLayouts
};
inline ModuleState g_module_state;

inline EllipsoidObject* as_ellipsoid(PyObject* self) {
    return reinterpret_cast<EllipsoidObject*>(self);
}

// A module global, looked up at each call as the methods' own code would; borrowed.
inline PyObject* module_global(PyObject* name) {
    PyObject* value = PyDict_GetItemWithError(g_module_state.dict, name);
    if (!value && !PyErr_Occurred())
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return value;
}

// The float protocol: exact floats are read directly, anything else through __float__
// (or __index__). A str is not converted.
inline bool as_double(PyObject* obj, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    out = PyFloat_AsDouble(obj);
    return !(out == -1.0 && PyErr_Occurred());
}

// Scalar test of the scalar-or-array convention: an instance of numbers.Real. The exact
// types float, int and numpy.float64 are instances (NumPy registers its scalars), so they
// are answered before the abstract base class's machinery.
inline int is_real(PyObject* obj) {
    if (PyFloat_CheckExact(obj) || PyLong_CheckExact(obj) || Py_IS_TYPE(obj, &PyDoubleArrType_Type))
        return 1;
    // Nor is a plain ndarray one (NumPy registers its scalars with numbers.Real, never the
    // array type), the common case of a batch call.
    if (PyArray_CheckExact(obj)) return 0;
    PyObject* real = module_global(g_module_state.real_name);
    if (!real) return -1;
    return PyObject_IsInstance(obj, real);
}

// Item access `obj[i]` through the mapping/sequence protocol with an int key.
inline Ref get_item(PyObject* obj, Py_ssize_t i) {
    Ref key = Ref::steal(PyLong_FromSsize_t(i));
    if (!key) return {};
    return Ref::steal(PyObject_GetItem(obj, key.get()));
}

inline bool item_as_double(PyObject* obj, Py_ssize_t i, double& out) {
    Ref item = get_item(obj, i);
    return item && as_double(item.get(), out);
}

// -- typed reads ----------------------------------------------------------------------------

// Whether a typed read of `obj` is equivalent to the item protocol: an exact ndarray of
// `ndim` dimensions, native byte order, with a bool, integer or single, double or
// extended precision element type (half floats go through the item protocol).
inline PyArrayObject* typed_array(PyObject* obj, int ndim) {
    if (!PyArray_CheckExact(obj)) return nullptr;
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(arr) != ndim || !PyArray_ISNOTSWAPPED(arr)) return nullptr;
    switch (PyArray_TYPE(arr)) {
    case NPY_BOOL:
    case NPY_BYTE:
    case NPY_UBYTE:
    case NPY_SHORT:
    case NPY_USHORT:
    case NPY_INT:
    case NPY_UINT:
    case NPY_LONG:
    case NPY_ULONG:
    case NPY_LONGLONG:
    case NPY_ULONGLONG:
    case NPY_FLOAT:
    case NPY_DOUBLE:
    case NPY_LONGDOUBLE: return arr;
    default: return nullptr;
    }
}

template <class T>
inline double load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));  // the array need not be aligned
    return static_cast<double>(value);
}

// One element converted as its NumPy scalar's __float__ converts it.
inline double load_as_double(const char* p, int type_num) {
    switch (type_num) {
    case NPY_DOUBLE: return load<double>(p);
    case NPY_FLOAT: return load<float>(p);
    case NPY_BOOL: return *p ? 1.0 : 0.0;
    case NPY_BYTE: return load<npy_byte>(p);
    case NPY_UBYTE: return load<npy_ubyte>(p);
    case NPY_SHORT: return load<npy_short>(p);
    case NPY_USHORT: return load<npy_ushort>(p);
    case NPY_INT: return load<npy_int>(p);
    case NPY_UINT: return load<npy_uint>(p);
    case NPY_LONG: return load<npy_long>(p);
    case NPY_ULONG: return load<npy_ulong>(p);
    case NPY_LONGLONG: return load<npy_longlong>(p);
    case NPY_ULONGLONG: return load<npy_ulonglong>(p);
    case NPY_LONGDOUBLE: return load<npy_longdouble>(p);
    default: return NAN;  // unreachable: typed_array admits only the types above
    }
}

// A one-dimensional input: element i of a batch. Typed when the array has at least `n`
// elements; otherwise `x[i]` through the item protocol.
class Column {
public:
    Column(PyObject* obj, Py_ssize_t n) : obj_(obj) {
        PyArrayObject* arr = typed_array(obj, 1);
        if (arr && PyArray_DIM(arr, 0) >= n) {
            data_ = PyArray_BYTES(arr);
            stride_ = PyArray_STRIDE(arr, 0);
            type_num_ = PyArray_TYPE(arr);
        }
    }
    bool read(Py_ssize_t i, double& out) const {
        if (data_) {
            out = load_as_double(data_ + i * stride_, type_num_);
            return true;
        }
        return item_as_double(obj_, i, out);
    }
    // The data of a typed float64 input (else NULL), for loops that read it directly.
    const char* doubles() const { return type_num_ == NPY_DOUBLE ? data_ : nullptr; }
    npy_intp stride() const { return stride_; }

private:
    PyObject* obj_;
    const char* data_ = nullptr;
    npy_intp stride_ = 0;
    int type_num_ = NPY_DOUBLE;
};

// Rows of 3-vectors: `r[j][0..2]` of an (n, 3) input. Typed when the array has at least
// n rows of at least 3 elements; surplus columns are ignored either way.
class Rows {
public:
    Rows(PyObject* obj, Py_ssize_t n) : obj_(obj) {
        PyArrayObject* arr = typed_array(obj, 2);
        if (arr && PyArray_DIM(arr, 0) >= n && PyArray_DIM(arr, 1) >= 3) {
            data_ = PyArray_BYTES(arr);
            row_stride_ = PyArray_STRIDE(arr, 0);
            col_stride_ = PyArray_STRIDE(arr, 1);
            type_num_ = PyArray_TYPE(arr);
        }
    }
    bool typed() const { return data_ != nullptr; }
    const char* doubles() const { return type_num_ == NPY_DOUBLE ? data_ : nullptr; }
    npy_intp row_stride() const { return row_stride_; }
    npy_intp col_stride() const { return col_stride_; }
    bool read(Py_ssize_t j, double* out) const {
        if (data_) {
            const char* row = data_ + j * row_stride_;
            if (type_num_ == NPY_DOUBLE) {
                out[0] = load<double>(row);
                out[1] = load<double>(row + col_stride_);
                out[2] = load<double>(row + 2 * col_stride_);
            } else {
                for (int i = 0; i < 3; ++i)
                    out[i] = load_as_double(row + i * col_stride_, type_num_);
            }
            return true;
        }
        Ref row = get_item(obj_, j);
        if (!row) return false;
        for (Py_ssize_t i = 0; i < 3; ++i)
            if (!item_as_double(row.get(), i, out[i])) return false;
        return true;
    }

private:
    PyObject* obj_;
    const char* data_ = nullptr;
    npy_intp row_stride_ = 0, col_stride_ = 0;
    int type_num_ = NPY_DOUBLE;
};

// A single 3-vector `r[0..2]`.
inline bool read_vector(PyObject* obj, double* out) {
    const Column vector(obj, 3);
    return vector.read(0, out[0]) && vector.read(1, out[1]) && vector.read(2, out[2]);
}

// -- loops ------------------------------------------------------------------------------------

// Scalar test over several inputs, in parameter order, stopping at the first that is not
// a numbers.Real. Returns 1 (all real), 0 or -1 (error).
inline int all_real(PyObject* const* inputs, int count) {
    for (int k = 0; k < count; ++k) {
        const int real = is_real(inputs[k]);
        if (real <= 0) return real;
    }
    return 1;
}

inline bool read_doubles(PyObject* const* inputs, int count, double* out) {
    for (int k = 0; k < count; ++k)
        if (!as_double(inputs[k], out[k])) return false;
    return true;
}

// Runs `body(row, j)` for the rows j < n of an (n, 3) input, stopping at a read error or
// an error left pending by the kernel. A body that touches no Python object and so can
// leave no error pending may skip the test after each row: `body_may_raise` = false.
template <bool body_may_raise = true, class Body>
inline bool for_each_row(PyObject* r, Py_ssize_t n, Body&& body) {
    const Rows rows(r, n);
    double v[3];
    if (const char* data = rows.doubles()) {
        // The common case, float64 rows, without the per-element type dispatch.
        const npy_intp row_stride = rows.row_stride(), col_stride = rows.col_stride();
        for (Py_ssize_t j = 0; j < n; ++j) {
            const char* row = data + j * row_stride;
            v[0] = load<double>(row);
            v[1] = load<double>(row + col_stride);
            v[2] = load<double>(row + 2 * col_stride);
            body(v, j);
            if (body_may_raise && PyErr_Occurred()) return false;
        }
        return true;
    }
    for (Py_ssize_t j = 0; j < n; ++j) {
        if (!rows.read(j, v)) return false;
        body(v, j);
        if (body_may_raise && PyErr_Occurred()) return false;
    }
    return true;
}

// Runs `body(values, i)` with element i of each of the `count` one-dimensional inputs.
template <int count, class Body>
inline bool for_each_element(PyObject* const* inputs, Py_ssize_t n, Body&& body) {
    static_assert(1 <= count && count <= 3);
    const Column columns[3] = {Column(inputs[0], n), Column(inputs[count > 1 ? 1 : 0], n),
                               Column(inputs[count > 2 ? 2 : 0], n)};
    double values[3];
    bool all_doubles = true;
    for (int k = 0; k < count; ++k) all_doubles = all_doubles && columns[k].doubles();
    if (all_doubles) {
        // The common case, float64 columns, without the per-element type dispatch.
        for (Py_ssize_t i = 0; i < n; ++i) {
            for (int k = 0; k < count; ++k)
                values[k] = load<double>(columns[k].doubles() + i * columns[k].stride());
            body(values, i);
            if (PyErr_Occurred()) return false;
        }
        return true;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        for (int k = 0; k < count; ++k)
            if (!columns[k].read(i, values[k])) return false;
        body(values, i);
        if (PyErr_Occurred()) return false;
    }
    return true;
}

// -- shape checks ---------------------------------------------------------------------------

inline bool assertions_enabled() { return g_module_state.assertions_enabled; }

// Truth of `objs[0].attr == objs[1].attr == ... [== last]`, evaluated as Python evaluates
// a chained comparison: attributes are fetched left to right and evaluation stops at the
// first false link. `last` may be NULL. Returns -1 with an error set.
inline int chained_attr_equal(PyObject* const* objs, int count, const char* attr, PyObject* last) {
    Ref prev = Ref::steal(PyObject_GetAttrString(objs[0], attr));
    if (!prev) return -1;
    for (int k = 1; k <= count; ++k) {
        Ref next;
        if (k < count) {
            next = Ref::steal(PyObject_GetAttrString(objs[k], attr));
            if (!next) return -1;
        } else if (last) {
            next = Ref::borrow(last);
        } else {
            break;
        }
        int eq = PyObject_RichCompareBool(prev.get(), next.get(), Py_EQ);
        if (eq <= 0) return eq;
        prev = std::move(next);
    }
    return 1;
}

// `assert <condition>`: raises AssertionError without a message when it is false.
inline bool check(int condition) {
    if (condition < 0) return false;
    if (condition == 0) {
        py::raise_assertion();
        return false;
    }
    return true;
}

// `obj.ndim == value`, as a truth value (-1 on error).
inline int ndim_equals(PyObject* obj, long value) {
    // A plain ndarray's attributes are its fields: no lookup can fail or differ.
    if (PyArray_CheckExact(obj))
        return PyArray_NDIM(reinterpret_cast<PyArrayObject*>(obj)) == value;
    Ref ndim = Ref::steal(PyObject_GetAttrString(obj, "ndim"));
    if (!ndim) return -1;
    Ref expected = Ref::steal(PyLong_FromLong(value));
    if (!expected) return -1;
    return PyObject_RichCompareBool(ndim.get(), expected.get(), Py_EQ);
}

// `obj.shape[index]`, as a Python object.
inline Ref shape_item(PyObject* obj, Py_ssize_t index) {
    Ref shape = Ref::steal(PyObject_GetAttrString(obj, "shape"));
    if (!shape) return {};
    return get_item(shape.get(), index);
}

// `obj.shape[index] == value`, as a truth value (-1 on error).
inline int shape_item_equals(PyObject* obj, Py_ssize_t index, long value) {
    if (PyArray_CheckExact(obj)) {
        auto* arr = reinterpret_cast<PyArrayObject*>(obj);
        if (index < PyArray_NDIM(arr)) return PyArray_DIM(arr, static_cast<int>(index)) == value;
    }
    Ref item = shape_item(obj, index);
    if (!item) return -1;
    Ref expected = Ref::steal(PyLong_FromLong(value));
    if (!expected) return -1;
    return PyObject_RichCompareBool(item.get(), expected.get(), Py_EQ);
}

// `obj.shape == (3,)`, the single-vector test (-1 on error).
inline int is_single_vector(PyObject* obj) {
    if (PyArray_CheckExact(obj)) {
        auto* arr = reinterpret_cast<PyArrayObject*>(obj);
        return PyArray_NDIM(arr) == 1 && PyArray_DIM(arr, 0) == 3;
    }
    Ref shape = Ref::steal(PyObject_GetAttrString(obj, "shape"));
    if (!shape) return -1;
    Ref expected = Ref::steal(Py_BuildValue("(i)", 3));
    if (!expected) return -1;
    return PyObject_RichCompareBool(shape.get(), expected.get(), Py_EQ);
}

// The batch length `obj.shape[0]` (-1 on error).
inline Py_ssize_t batch_length(PyObject* obj) {
    if (PyArray_Check(obj)) {
        auto* arr = reinterpret_cast<PyArrayObject*>(obj);
        if (PyArray_NDIM(arr) >= 1) return PyArray_DIM(arr, 0);
    }
    Ref item = shape_item(obj, 0);
    if (!item) return -1;
    const Py_ssize_t n = PyNumber_AsSsize_t(item.get(), PyExc_OverflowError);
    if (n < 0 && !PyErr_Occurred())
        PyErr_Format(PyExc_ValueError, "shape[0] must not be negative, got %zd", n);
    return n;
}

// Rows convention checks: `assert r.ndim == 2` then `assert r.shape[1] == 3`.
inline bool check_rows_of_three(PyObject* r) {
    if (!assertions_enabled()) return true;
    return check(ndim_equals(r, 2)) && check(shape_item_equals(r, 1, 3));
}

// Several-input checks: `assert a.ndim == b.ndim [== c.ndim] == 1`, then
// `assert a.shape == b.shape [== c.shape]`.
inline bool check_same_1d(PyObject* const* inputs, int count) {
    if (!assertions_enabled()) return true;
    bool plain = true;
    for (int k = 0; k < count; ++k) plain = plain && PyArray_CheckExact(inputs[k]);
    if (plain) {
        // The same two assertions, read from the arrays' fields: every ndim equal and 1,
        // then every shape equal (all one-dimensional by then, so their lengths).
        const auto array = [&](int k) { return reinterpret_cast<PyArrayObject*>(inputs[k]); };
        // The shapes are read only once every ndim is known to be 1: a 0-d array has no
        // extent to read.
        bool ndim_ok = true, shape_ok = true;
        for (int k = 0; k < count; ++k) ndim_ok = ndim_ok && PyArray_NDIM(array(k)) == 1;
        if (!check(ndim_ok)) return false;
        for (int k = 1; k < count; ++k)
            shape_ok = shape_ok && PyArray_DIM(array(k), 0) == PyArray_DIM(array(0), 0);
        return check(shape_ok);
    }
    Ref one = Ref::steal(PyLong_FromLong(1));
    if (!one) return false;
    return check(chained_attr_equal(inputs, count, "ndim", one.get())) &&
           check(chained_attr_equal(inputs, count, "shape", nullptr));
}

// The vector-or-rows dispatch: 1 for a single 3-vector, 0 for rows (their shape checks
// passed, their count stored in `n`), -1 on error. The `ndim_first` variant tests
// `r.ndim == 1` and then asserts `r.shape == (3,)`; the other takes `r.shape == (3,)` as
// the single vector and anything else as rows.
inline int single_vector_or_rows(PyObject* r, bool ndim_first, Py_ssize_t& n) {
    const int single = ndim_first ? ndim_equals(r, 1) : is_single_vector(r);
    if (single < 0) return -1;
    if (single) {
        if (ndim_first && assertions_enabled() && !check(is_single_vector(r))) return -1;
        return 1;
    }
    if (!check_rows_of_three(r)) return -1;
    n = batch_length(r);
    return n < 0 ? -1 : 0;
}

// -- results --------------------------------------------------------------------------------

// The layout a record dtype must have: `count` fields of `width` doubles each, packed.
struct RecordLayout {
    const char* dtype_name;  // module global holding the dtype
    const char* record_name;
    int count;
    int width;  // 1 for a double field, 3 for a 3-vector field
};

inline constexpr RecordLayout kRecordLayouts[4] = {
    {"SurfCoord_dtype", "SurfCoord", 2, 1},
    {"LLA_dtype", "LLA", 3, 1},
    {"ENU_dtype", "ENU_Frame", 3, 3},
    {"AER_dtype", "AER", 3, 1},
};
inline constexpr const RecordLayout& kSurfCoordLayout = kRecordLayouts[0];
inline constexpr const RecordLayout& kLLALayout = kRecordLayouts[1];
inline constexpr const RecordLayout& kENULayout = kRecordLayouts[2];
inline constexpr const RecordLayout& kAERLayout = kRecordLayouts[3];

inline bool is_native_double(PyArray_Descr* d) {
    return d->type_num == NPY_DOUBLE && PyArray_ISNBO(d->byteorder) && !PyDataType_HASSUBARRAY(d);
}

// Whether `descr` lays out the record exactly: field types, counts and offsets in order,
// item size, native byte order. Field names are not compared.
inline bool check_record_layout(PyArray_Descr* descr, const RecordLayout& layout) {
    const npy_intp field_size = 8 * layout.width;
    bool ok = PyDataType_HASFIELDS(descr) && PyDataType_ELSIZE(descr) == layout.count * field_size;
    PyObject* names = ok ? PyDataType_NAMES(descr) : nullptr;
    ok = ok && names && PyTuple_GET_SIZE(names) == layout.count;
    for (int k = 0; ok && k < layout.count; ++k) {
        PyObject* entry =
            PyDict_GetItemWithError(PyDataType_FIELDS(descr), PyTuple_GET_ITEM(names, k));
        if (!entry) {
            if (PyErr_Occurred()) return false;
            ok = false;  // a name without its field entry: reported below like any mismatch
            break;
        }
        auto* field = reinterpret_cast<PyArray_Descr*>(PyTuple_GET_ITEM(entry, 0));
        const long offset = PyLong_AsLong(PyTuple_GET_ITEM(entry, 1));
        ok = offset == k * field_size;
        if (ok && layout.width == 1) {
            ok = is_native_double(field);
        } else if (ok) {
            PyArray_ArrayDescr* sub = PyDataType_SUBARRAY(field);
            ok = sub && is_native_double(sub->base) && PyTuple_Check(sub->shape) &&
                 PyTuple_GET_SIZE(sub->shape) == 1 &&
                 PyLong_AsLong(PyTuple_GET_ITEM(sub->shape, 0)) == layout.width;
        }
    }
    if (!ok && !PyErr_Occurred()) {
        const char* shape = layout.width == 3 ? " of 3 elements" : "";
        Ref message = Ref::steal(PyUnicode_FromFormat(
            "Buffer dtype mismatch: %s %R does not describe the %s record (%d packed native "
            "float64 fields%s)",
            layout.dtype_name, reinterpret_cast<PyObject*>(descr), layout.record_name, layout.count,
            shape));
        if (message) {
            PyErr_SetObject(PyExc_ValueError, message.get());
        } else {
            // A dtype broken enough to fail its own repr is still refused with ValueError.
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError,
                         "Buffer dtype mismatch: %s does not describe the %s record (%d packed "
                         "native float64 fields%s)",
                         layout.dtype_name, layout.record_name, layout.count, shape);
        }
    }
    return ok;
}

// Zeroed storage for the records of a small result: a variable-size object holding the
// doubles inline (PyType_GenericAlloc zeroes the whole object), so a single-record result
// costs one small allocation besides its array. Only the record view refers to it, as its
// base; nothing can resize it.
struct RecordStore {
    PyObject_VAR_HEAD
    alignas(16) double data[1];
};
inline constexpr Py_ssize_t kRecordStoreDoubles = 64;  // larger results use a float64 array
inline PyTypeObject* g_record_store_type = nullptr;    // made when the module is imported

inline void record_store_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

inline PyTypeObject* make_record_store_type(PyObject* module) {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(record_store_dealloc)},
        {Py_tp_doc, const_cast<char*>("Storage of the records of a small Ellipsoid result.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "orbalis.mathtools.ellipsoid.ellipsoid.RecordStore",
        static_cast<int>(offsetof(RecordStore, data)),
        static_cast<int>(sizeof(double)),
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &spec, nullptr));
}

// `numpy.zeros(shape=n, dtype=<record dtype>)` taken as a view of records: the dtype is the
// module global of that name, checked against the record layout.
inline Ref new_records(const RecordLayout& layout, npy_intp n, char*& data) {
    const std::ptrdiff_t index = &layout - kRecordLayouts;
    PyObject* dtype = module_global(g_module_state.dtype_names[index]);
    if (!dtype) return {};
    PyArray_Descr* descr = nullptr;
    if (!PyArray_DescrConverter(dtype, &descr)) return {};
    // A dtype's layout cannot change once made, so the dtype last found valid for this
    // record is remembered and not checked again (renaming fields does not matter: names
    // are not compared). Methods run holding the interpreter lock, which guards this memo.
    static PyArray_Descr* last_valid[4] = {};
    PyArray_Descr*& known = last_valid[index];
    if (descr != known) {
        if (!check_record_layout(descr, layout)) {
            Py_DECREF(descr);
            return {};
        }
        Py_INCREF(descr);
        Py_XSETREF(known, descr);
    }
    // The records hold only doubles, so zeroed doubles viewed as records are what
    // numpy.zeros makes, and NumPy's own allocation of a structured array would look up a
    // per-field fill on every call. The doubles live in a RecordStore when they are few
    // (one small allocation, zeroed) and otherwise in a float64 array, which NumPy zeroes
    // through calloc: pages are touched only as results are written, so a huge batch whose
    // first row fails costs nothing. The record view keeps the storage as its base; it is
    // writable and C-ordered.
    const Py_ssize_t doubles_per_record = layout.count * layout.width;
    Ref storage;
    if (n <= kRecordStoreDoubles / doubles_per_record) {
        storage = Ref::steal(PyType_GenericAlloc(g_record_store_type, n * doubles_per_record));
        if (storage)
            data = reinterpret_cast<char*>(reinterpret_cast<RecordStore*>(storage.get())->data);
    } else {
        npy_intp dims[2] = {n, doubles_per_record};
        storage = Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
        if (storage) data = PyArray_BYTES(reinterpret_cast<PyArrayObject*>(storage.get()));
    }
    if (!storage) {
        Py_DECREF(descr);
        return {};
    }
    Ref array = Ref::steal(PyArray_NewFromDescr(&PyArray_Type, descr, 1, &n, nullptr, data,
                                                NPY_ARRAY_CARRAY, nullptr));
    if (!array ||
        PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), storage.release()) < 0)
        return {};
    return array;
}

// `numpy.zeros(shape=(n, 3) or n, dtype=numpy.double)`, C-ordered.
inline Ref new_doubles(npy_intp n, int columns, double*& data) {
    npy_intp dims[2] = {n, columns};
    Ref array = Ref::steal(PyArray_ZEROS(columns ? 2 : 1, dims, NPY_DOUBLE, 0));
    if (array)
        data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
    return array;
}

}  // namespace orbalis::ellipsoid
