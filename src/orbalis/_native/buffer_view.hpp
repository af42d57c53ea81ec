// The buffer views of the orbalis modules: the one test of a buffer's element type
// (native-endian IEEE double), and a writable, strided two-dimensional float64 view held
// on a caller's object, as a state vector keeps on its position and velocity arrays.
//
// Include after <numpy/arrayobject.h>, with the including module's own NumPy API setup:
// the view treats NumPy arrays apart (see below).
//
// What a held view guarantees. The view holds a buffer export on the exporting object,
// which therefore stays alive until the view is released. The export alone does not keep
// the memory in place for every exporter: bytearray, array.array and mmap refuse to resize
// while exported, but NumPy does not count buffer exports, and `ndarray.resize(...,
// refcheck=False)` would reallocate the data under the view. For a NumPy exporter the view
// therefore also holds a weak reference to the array that owns the data, and NumPy refuses
// to resize an array that is weakly referenced, whatever `refcheck` says. So the data
// pointer stays valid while the view is held, except against code that frees memory behind
// its owner's back (`ctypes.resize`, or `ndarray.__setstate__` called on a live array,
// which breaks NumPy's own views as well).
#pragma once

#ifndef Py_ARRAYOBJECT_H
#error "include <numpy/arrayobject.h> before buffer_view.hpp"
#endif

#include "pyref.hpp"

#include <cstring>

namespace orbalis::py {

// Whether a buffer's items are native-endian IEEE doubles: itemsize 8 and a struct-module
// format of one native or explicitly native-order double.
inline bool is_native_float64(const char* format, Py_ssize_t itemsize) noexcept {
    if (itemsize != static_cast<Py_ssize_t>(sizeof(double))) return false;
    if (format == nullptr) return false;  // NULL means unsigned bytes
    if (std::strcmp(format, "d") == 0 || std::strcmp(format, "@d") == 0 ||
        std::strcmp(format, "=d") == 0)
        return true;
#if PY_BIG_ENDIAN
    return std::strcmp(format, ">d") == 0 || std::strcmp(format, "!d") == 0;
#else
    return std::strcmp(format, "<d") == 0;
#endif
}

// A plain struct, so that it can live in an extension object's zero-filled memory; it is
// empty when zeroed. `buffer` and `pin` are owned and released by release_view only.
struct Float64View2D {
    Py_buffer buffer;  // buffer.obj is NULL for an empty view
    PyObject* pin;     // weak reference to the NumPy array owning the data, or NULL
    char* data;
    Py_ssize_t extent[2];
    Py_ssize_t stride[2];

    bool empty() const noexcept { return buffer.obj == nullptr; }
};

// Releases the export and the pin (if any) and leaves an empty view: a view is released
// exactly once however often this runs.
inline void release_view(Float64View2D& view) noexcept {
    if (view.buffer.obj) PyBuffer_Release(&view.buffer);
    Py_CLEAR(view.pin);
    std::memset(&view, 0, sizeof view);
}

// The exporter as the cyclic garbage collector may see it: a NumPy array, or NULL.
// An object that holds a view reports this in its traverse and releases the view in its
// clear. Other exporters are never reported, so the collector always counts them as
// referenced from outside and never clears them while exported: the clear of some
// exporters (memoryview, ctypes objects) drops the memory even while exports are held.
// A NumPy array's clear (for a Python subclass, its __dict__ only) never touches its data.
inline PyObject* collectable_exporter(const Float64View2D& view) noexcept {
    PyObject* obj = view.buffer.obj;
    return obj && PyArray_Check(obj) ? obj : nullptr;
}

namespace detail {

// The NumPy array whose data `array` views: the end of its chain of array bases, if that
// array owns its data; NULL if no array in the chain does (then NumPy cannot resize it).
inline PyObject* numpy_data_owner(PyObject* array) noexcept {
    while (true) {
        auto* a = reinterpret_cast<PyArrayObject*>(array);
        if (PyArray_CHKFLAGS(a, NPY_ARRAY_OWNDATA)) return array;
        PyObject* base = PyArray_BASE(a);
        if (base == nullptr || !PyArray_Check(base)) return nullptr;
        array = base;
    }
}

// Replaces a pending BufferError from a writable request by ValueError when `obj` would
// export read-only: exporters other than NumPy refuse writable requests that way.
inline void explain_writable_refusal(PyObject* obj, const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_BufferError)) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref original_type = Ref::steal(type), original = Ref::steal(value),
        original_traceback = Ref::steal(traceback);
    Py_buffer readonly;
    if (PyObject_GetBuffer(obj, &readonly, PyBUF_RECORDS_RO) == 0) {
        PyBuffer_Release(&readonly);
        PyErr_Format(PyExc_ValueError, "%s: the buffer of %.200s is read-only", name,
                     Py_TYPE(obj)->tp_name);
        return;
    }
    PyErr_Clear();
    PyErr_Restore(original_type.release(), original.release(), original_traceback.release());
}

}  // namespace detail

// Binds `view` to `obj`: None gives an empty view with extents (0, 0); anything else must
// export a writable 2-D buffer of native float64. `name` names the argument in messages.
// Returns 0, or -1 with TypeError (no buffer interface) or ValueError (read-only, wrong
// number of dimensions, wrong element type) set and `view` left empty.
inline int acquire_view(Float64View2D& view, PyObject* obj, const char* name) {
    release_view(view);
    if (obj == Py_None) return 0;
    Py_buffer buffer;
    if (PyObject_GetBuffer(obj, &buffer, PyBUF_RECORDS) < 0) {
        detail::explain_writable_refusal(obj, name);
        return -1;
    }
    if (buffer.ndim != 2) {
        PyErr_Format(PyExc_ValueError,
                     "%s: expected a 2-dimensional buffer of float64, got %d dimension%s", name,
                     buffer.ndim, buffer.ndim == 1 ? "" : "s");
        PyBuffer_Release(&buffer);
        return -1;
    }
    if (!is_native_float64(buffer.format, buffer.itemsize)) {
        PyErr_Format(PyExc_ValueError,
                     "%s: expected native float64 elements (format 'd'), got format '%s' with "
                     "itemsize %zd",
                     name, buffer.format ? buffer.format : "B", buffer.itemsize);
        PyBuffer_Release(&buffer);
        return -1;
    }
    if (PyArray_Check(obj)) {
        if (PyObject* owner = detail::numpy_data_owner(obj)) {
            view.pin = PyWeakref_NewRef(owner, nullptr);
            if (!view.pin) {
                PyBuffer_Release(&buffer);
                return -1;
            }
        }
    }
    view.buffer = buffer;
    view.data = static_cast<char*>(buffer.buf);
    view.extent[0] = buffer.shape[0];
    view.extent[1] = buffer.shape[1];
    if (buffer.strides) {
        view.stride[0] = buffer.strides[0];
        view.stride[1] = buffer.strides[1];
    } else {
        // A strides request lets the exporter omit strides only for C-contiguous data.
        view.stride[1] = buffer.itemsize;
        view.stride[0] = buffer.shape[1] * buffer.itemsize;
    }
    return 0;
}

}  // namespace orbalis::py
