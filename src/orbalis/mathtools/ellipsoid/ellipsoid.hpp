// Chief header of the ellipsoid module: the Ellipsoid object, its kernel table and the
// geodetic records, for the module itself and for native code that calls the kernels of
// an Ellipsoid directly (the table is published as the capsule `__pyx_vtable__` in the
// type's dict).
#pragma once

#include "kernels.hpp"
#include "pyref.hpp"
#include "records.hpp"

#include <cstdio>

namespace orbalis::ellipsoid {

struct EllipsoidObject;
using EllipsoidKernels = KernelTable<EllipsoidObject>;

// An ellipsoid of revolution: equatorial radius Re (a), flattening f and the polar radius
// Rp = (1 - f) Re (b). Immutable once constructed; no other derived constant is kept.
struct EllipsoidObject {
    PyObject_HEAD
    const EllipsoidKernels* vtab;  // published as the capsule `__pyx_vtable__`
    double Re;
    double f;
    double Rp;
};

// The module's own kernel table, which every Ellipsoid gets at construction; a native
// subclass may install another. Defined in ellipsoid.cpp.
extern const EllipsoidKernels kKernelTable;

// The qualified name of the type; methods and kernels are named "<kTypeName>.<name>" in
// their traceback entries.
inline constexpr const char* kTypeName = "orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid";
inline constexpr const char* kSourceFile = "orbalis/mathtools/ellipsoid/ellipsoid.cpp";

// Appends the traceback entry of the method or kernel `name` to the pending error.
inline void add_traceback_entry(const char* name) {
    char qualname[160];
    std::snprintf(qualname, sizeof qualname, "%s.%s", kTypeName, name);
    py::add_traceback(qualname, kSourceFile);
}

// The lingeom kernels bound when the module is imported.
inline VectorKernels g_vector_kernels{};

inline const VectorKernels& vector_kernels(EllipsoidObject*) noexcept { return g_vector_kernels; }

// Called after a kernel calls another: reports whether an interpreter error is pending,
// adding a traceback entry for the calling `kernel` if so. Kernels may run without the
// interpreter lock, so it is taken for the test unless this thread already holds it; the
// common case, a method's loop holding the lock, is a thread-state check and one load.
inline bool kernel_error_pending(EllipsoidObject*, const char* kernel) noexcept {
    if (PyGILState_Check()) [[likely]] {
        if (!PyErr_Occurred()) [[likely]]
            return false;
        add_traceback_entry(kernel);
        return true;
    }
    PyGILState_STATE state = PyGILState_Ensure();
    const bool pending = PyErr_Occurred() != nullptr;
    if (pending) add_traceback_entry(kernel);
    PyGILState_Release(state);
    return pending;
}

}  // namespace orbalis::ellipsoid
