// Chief header of the ellipsoid module: the Ellipsoid object, its kernel table and the
// geodetic records, for the module itself and for native code that calls the kernels of
// an Ellipsoid directly (the table is published as the capsule `__pyx_vtable__` in the
// type's dict).
#pragma once

#include "kernels.hpp"
#include "pyref.hpp"
#include "records.hpp"

namespace orbalis::ellipsoid {

struct EllipsoidObject;
using EllipsoidKernels = KernelTable<EllipsoidObject>;

// An ellipsoid of revolution: equatorial radius Re (a), flattening f and the polar radius
// Rp = (1 - f) Re (b). Immutable once constructed; no other derived constant is kept.
struct EllipsoidObject {
    PyObject_HEAD
    const EllipsoidKernels* __pyx_vtab;
    double Re;
    double f;
    double Rp;
};

// The module's own kernel table, which every Ellipsoid gets at construction; a native
// subclass may install another. Defined in ellipsoid.cpp.
extern const EllipsoidKernels kKernelTable;

inline constexpr const char* kSourceFile = "orbalis/mathtools/ellipsoid/ellipsoid.cpp";

// The lingeom kernels bound when the module is imported.
inline VectorKernels bound_vector_kernels{};

inline const VectorKernels& vector_kernels(EllipsoidObject*) noexcept { return bound_vector_kernels; }

// Called after a kernel calls another: reports whether an interpreter error is pending,
// adding a traceback entry for `qualname` if so. Kernels may run without the interpreter
// lock, so it is taken for the test unless this thread already holds it; the common
// case, a method's loop holding the lock, is a thread-state check and one load.
inline bool kernel_error_pending(EllipsoidObject*, const char* qualname) noexcept {
    if (PyGILState_Check()) [[likely]] {
        if (!PyErr_Occurred()) [[likely]]
            return false;
        py::add_traceback(qualname, kSourceFile);
        return true;
    }
    PyGILState_STATE state = PyGILState_Ensure();
    const bool pending = PyErr_Occurred() != nullptr;
    if (pending) py::add_traceback(qualname, kSourceFile);
    PyGILState_Release(state);
    return pending;
}

}  // namespace orbalis::ellipsoid
