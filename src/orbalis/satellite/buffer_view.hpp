// A writable, strided two-dimensional view of 64-bit floats held on a caller's buffer.
//
// A state vector never copies its position and velocity arrays: it keeps one of these
// views on each. The view holds a buffer export on the caller's object (which therefore
// stays alive, and for resizable exporters stays unresized, until the view is released)
// and records the data pointer, the two extents and the two strides in bytes, which may
// be anything the exporter reports (Fortran order, column slices, negative steps).
#pragma once

#include "pyref.hpp"

#include <cstring>

namespace orbalis::satellite {

struct DoubleView2D {
    Py_buffer buffer;  // buffer.obj is NULL for an empty view
    char* data;
    Py_ssize_t extent[2];
    Py_ssize_t stride[2];

    bool empty() const noexcept { return buffer.obj == nullptr; }
};

// Whether a struct-module format string describes one native-endian IEEE double.
inline bool is_native_double_format(const char* format) noexcept {
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

// Releases the export (if any) and leaves an empty view. Safe on a zeroed view.
inline void release_view(DoubleView2D& view) noexcept {
    if (view.buffer.obj) PyBuffer_Release(&view.buffer);
    std::memset(&view, 0, sizeof view);
}

// Binds `view` to `obj`: None gives an empty view with extents (0, 0); anything else must
// export a writable 2-D buffer of native doubles. `name` names the argument in messages.
// Returns 0, or -1 with TypeError (no buffer interface) or ValueError (read-only, wrong
// number of dimensions, wrong element type) set and `view` left empty.
inline int acquire_view(DoubleView2D& view, PyObject* obj, const char* name) {
    release_view(view);
    if (obj == Py_None) return 0;
    Py_buffer buffer;
    if (PyObject_GetBuffer(obj, &buffer, PyBUF_RECORDS) < 0) {
        // Exporters other than NumPy refuse a writable request with BufferError; tell a
        // read-only buffer apart from other refusals so the error says what is wrong.
        if (!PyErr_ExceptionMatches(PyExc_BufferError)) return -1;
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        Py_buffer readonly;
        if (PyObject_GetBuffer(obj, &readonly, PyBUF_RECORDS_RO) == 0) {
            PyBuffer_Release(&readonly);
            Py_XDECREF(type);
            Py_XDECREF(value);
            Py_XDECREF(traceback);
            PyErr_Format(PyExc_ValueError, "%s: the buffer of %.200s is read-only", name,
                         Py_TYPE(obj)->tp_name);
            return -1;
        }
        PyErr_Clear();
        PyErr_Restore(type, value, traceback);
        return -1;
    }
    if (buffer.ndim != 2) {
        PyErr_Format(PyExc_ValueError,
                     "%s: expected a 2-dimensional buffer of float64, got %d dimension%s", name,
                     buffer.ndim, buffer.ndim == 1 ? "" : "s");
        PyBuffer_Release(&buffer);
        return -1;
    }
    if (buffer.itemsize != static_cast<Py_ssize_t>(sizeof(double)) ||
        !is_native_double_format(buffer.format)) {
        PyErr_Format(PyExc_ValueError,
                     "%s: expected native float64 elements (format 'd'), got format '%s' with "
                     "itemsize %zd",
                     name, buffer.format ? buffer.format : "B", buffer.itemsize);
        PyBuffer_Release(&buffer);
        return -1;
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

}  // namespace orbalis::satellite
