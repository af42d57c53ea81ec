// Test and benchmark helpers over the Ellipsoid kernel table, as another native module
// sees it: the table is taken from the `__pyx_vtable__` capsule of the object's type.
//
// The loop functions run one kernel per row over C-contiguous buffers (float64 arrays and
// record arrays of the exact record sizes) with no Python in the loop: the baseline the
// Python-level batch methods are measured against. `InstrumentedEllipsoid` is a native
// subclass with its own kernel table whose observation slots count their calls and can be
// made to fail, to show that the methods honour a replaced slot and report its errors.
#include "ellipsoid.hpp"

#include <cstring>
#include <type_traits>

namespace orbalis::testing {
namespace {

using ellipsoid::AER;
using ellipsoid::Calls;
using ellipsoid::EllipsoidKernels;
using ellipsoid::EllipsoidObject;
using ellipsoid::ENU_Frame;
using ellipsoid::LLA;
using ellipsoid::SurfCoord;
using py::Ref;

PyTypeObject* g_ellipsoid_type = nullptr;  // owned for the life of the process

// -- arguments ------------------------------------------------------------------------------

// A C-contiguous buffer of `count` items of `itemsize` bytes (`count` < 0: any whole
// number of items), with format "d" when `doubles` is set.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    bool acquire(PyObject* obj, const char* what, bool writable, Py_ssize_t itemsize, bool doubles,
                 Py_ssize_t count = -1) {
        const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
        if (PyObject_GetBuffer(obj, &view_, flags) < 0) return false;
        held_ = true;
        const bool format_ok = !doubles || (view_.format && (std::strcmp(view_.format, "d") == 0 ||
                                                             std::strcmp(view_.format, "<d") == 0));
        const bool size_ok =
            view_.len % itemsize == 0 && (count < 0 || view_.len / itemsize == count);
        if (!format_ok || !size_ok) {
            PyErr_Format(PyExc_ValueError,
                         "%s: expected %s of %zd-byte items%s, got format %s and %zd bytes", what,
                         doubles ? "float64 data" : "records", itemsize,
                         count < 0 ? "" : " matching the input", view_.format ? view_.format : "?",
                         view_.len);
            return false;
        }
        return true;
    }
    Py_ssize_t items(Py_ssize_t itemsize) const { return view_.len / itemsize; }
    template <class T>
    T* as() const {
        return static_cast<T*>(view_.buf);
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// The Ellipsoid argument and the kernel table published by its type.
const EllipsoidKernels* table_of(PyObject* obj, EllipsoidObject*& e) {
    if (!PyObject_TypeCheck(obj, g_ellipsoid_type)) {
        PyErr_Format(PyExc_TypeError, "expected an Ellipsoid, got %.200s", Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    e = reinterpret_cast<EllipsoidObject*>(obj);
    Ref capsule = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__pyx_vtable__"));
    if (!capsule) return nullptr;
    return static_cast<const EllipsoidKernels*>(PyCapsule_GetPointer(capsule.get(), nullptr));
}

bool check_nargs(const char* name, Py_ssize_t nargs, Py_ssize_t expected) {
    if (nargs == expected) return true;
    PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd arguments (%zd given)", name, expected,
                 nargs);
    return false;
}

PyObject* finish() { return PyErr_Occurred() ? nullptr : Py_NewRef(Py_None); }

// The kernel the methods run for `e`: the direct form when e holds the type's published
// table (nothing replaced), its slot otherwise.
template <class Fn>
Fn direct_or_slot(const EllipsoidObject* e, const EllipsoidKernels* published,
                  std::type_identity_t<Fn> direct, Fn slot) {
    return e->vtab == published ? direct : slot;
}

// -- plain loops ----------------------------------------------------------------------------

// lla_from_pos(e, r (n, 3) float64, out (n,) LLA records)
PyObject* lla_from_pos(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    EllipsoidObject* e;
    const EllipsoidKernels* k;
    Buffer r, out;
    if (!check_nargs("lla_from_pos", nargs, 3) || !(k = table_of(args[0], e)) ||
        !r.acquire(args[1], "r", false, 3 * sizeof(double), true) ||
        !out.acquire(args[2], "out", true, sizeof(LLA), false, r.items(3 * sizeof(double))))
        return nullptr;
    const Py_ssize_t n = r.items(3 * sizeof(double));
    double* rows = r.as<double>();
    LLA* records = out.as<LLA>();
    const auto kernel = direct_or_slot(
        e, k, &ellipsoid::c_lla_from_pos<EllipsoidObject, Calls::direct>, k->c_lla_from_pos);
    for (Py_ssize_t i = 0; i < n; ++i) kernel(e, rows + 3 * i, records + i);
    return finish();
}

// pos_from_lla(e, lla (n,) LLA records, out (n, 3) float64)
PyObject* pos_from_lla(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    EllipsoidObject* e;
    const EllipsoidKernels* k;
    Buffer lla, out;
    if (!check_nargs("pos_from_lla", nargs, 3) || !(k = table_of(args[0], e)) ||
        !lla.acquire(args[1], "lla", false, sizeof(LLA), false) ||
        !out.acquire(args[2], "out", true, 3 * sizeof(double), true, lla.items(sizeof(LLA))))
        return nullptr;
    const Py_ssize_t n = lla.items(sizeof(LLA));
    const LLA* records = lla.as<LLA>();
    double* rows = out.as<double>();
    const auto kernel = direct_or_slot(
        e, k, &ellipsoid::c_pos_from_lla<EllipsoidObject, Calls::direct>, k->c_pos_from_lla);
    for (Py_ssize_t i = 0; i < n; ++i) kernel(e, records[i], rows + 3 * i);
    return finish();
}

// enu(e, lat (n,) float64, lon (n,) float64, out (n,) ENU records)
PyObject* enu(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    EllipsoidObject* e;
    const EllipsoidKernels* k;
    Buffer lat, lon, out;
    if (!check_nargs("enu", nargs, 4) || !(k = table_of(args[0], e)) ||
        !lat.acquire(args[1], "lat", false, sizeof(double), true) ||
        !lon.acquire(args[2], "lon", false, sizeof(double), true, lat.items(sizeof(double))) ||
        !out.acquire(args[3], "out", true, sizeof(ENU_Frame), false, lat.items(sizeof(double))))
        return nullptr;
    const Py_ssize_t n = lat.items(sizeof(double));
    const double* phi = lat.as<double>();
    const double* lambda = lon.as<double>();
    ENU_Frame* frames = out.as<ENU_Frame>();
    const auto kernel =
        direct_or_slot(e, k, &ellipsoid::c_enu<EllipsoidObject, Calls::direct>, k->c_enu);
    for (Py_ssize_t i = 0; i < n; ++i) kernel(e, SurfCoord{phi[i], lambda[i]}, frames + i);
    return finish();
}

bool observer(PyObject* const* args, LLA& lla) {
    return (lla.lat = PyFloat_AsDouble(args[0]), !PyErr_Occurred()) &&
           (lla.lon = PyFloat_AsDouble(args[1]), !PyErr_Occurred()) &&
           (lla.alt = PyFloat_AsDouble(args[2]), !PyErr_Occurred());
}

// The arguments of the aer loops: e, r (n, 3) float64, lat, lon, alt, out (n,) AER records.
struct AerArguments {
    EllipsoidObject* e;
    const EllipsoidKernels* k;
    Buffer r, out;
    LLA lla;
    Py_ssize_t n;
    double* rows;
    AER* records;
};

bool parse_aer(const char* name, PyObject* const* args, Py_ssize_t nargs, AerArguments& a) {
    if (!check_nargs(name, nargs, 6) || !(a.k = table_of(args[0], a.e)) ||
        !a.r.acquire(args[1], "r", false, 3 * sizeof(double), true) || !observer(args + 2, a.lla) ||
        !a.out.acquire(args[5], "out", true, sizeof(AER), false, a.r.items(3 * sizeof(double))))
        return false;
    a.n = a.r.items(3 * sizeof(double));
    a.rows = a.r.as<double>();
    a.records = a.out.as<AER>();
    return true;
}

// aer_coords(e, r, lat, lon, alt, out): the c_aer_coords slot per target, the observer
// recomputed each time.
PyObject* aer_coords(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    AerArguments a;
    if (!parse_aer("aer_coords", args, nargs, a)) return nullptr;
    for (Py_ssize_t i = 0; i < a.n; ++i)
        a.k->c_aer_coords(a.e, a.rows + 3 * i, a.lla, a.records + i);
    return finish();
}

// aer_from_observer(e, r, lat, lon, alt, out): as aer_coords, with the observer's position
// and frame computed once by the table's slots.
PyObject* aer_from_observer(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    AerArguments a;
    if (!parse_aer("aer_from_observer", args, nargs, a)) return nullptr;
    double r_obs[3];
    ENU_Frame enu_obs;
    a.k->c_pos_from_lla(a.e, a.lla, r_obs);
    a.k->c_enu(a.e, SurfCoord{a.lla.lat, a.lla.lon}, &enu_obs);
    for (Py_ssize_t i = 0; i < a.n; ++i)
        ellipsoid::aer_from_observer(a.e, a.rows + 3 * i, r_obs, &enu_obs, a.records + i);
    return finish();
}

// ray(e, r_source (3,) float64, u (n, 3) float64, out (n, 3) float64)
PyObject* ray(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    EllipsoidObject* e;
    const EllipsoidKernels* k;
    Buffer source, u, out;
    if (!check_nargs("ray", nargs, 4) || !(k = table_of(args[0], e)) ||
        !source.acquire(args[1], "r_source", false, 3 * sizeof(double), true, 1) ||
        !u.acquire(args[2], "u", false, 3 * sizeof(double), true) ||
        !out.acquire(args[3], "out", true, 3 * sizeof(double), true, u.items(3 * sizeof(double))))
        return nullptr;
    const Py_ssize_t n = u.items(3 * sizeof(double));
    double r_source[3];
    std::memcpy(r_source, source.as<double>(), sizeof r_source);
    double* directions = u.as<double>();
    double* points = out.as<double>();
    for (Py_ssize_t i = 0; i < n; ++i)
        k->c_surf_pos_of_ray_first_intersection(e, r_source, directions + 3 * i, points + 3 * i);
    return finish();
}

// ray_first_intersection(e, r_source, u, out): as ray, with the kernel's quotient of f
// formed once and the rest of the kernel run per row.
PyObject* ray_first_intersection(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    EllipsoidObject* e;
    Buffer source, u, out;
    if (!check_nargs("ray_first_intersection", nargs, 4) || !table_of(args[0], e) ||
        !source.acquire(args[1], "r_source", false, 3 * sizeof(double), true, 1) ||
        !u.acquire(args[2], "u", false, 3 * sizeof(double), true) ||
        !out.acquire(args[3], "out", true, 3 * sizeof(double), true, u.items(3 * sizeof(double))))
        return nullptr;
    const Py_ssize_t n = u.items(3 * sizeof(double));
    double r_source[3];
    std::memcpy(r_source, source.as<double>(), sizeof r_source);
    const double* directions = u.as<double>();
    double* points = out.as<double>();
    const double Re = e->Re, diagGz = ellipsoid::ray_diagGz(e->f);
    for (Py_ssize_t i = 0; i < n; ++i)
        ellipsoid::ray_first_intersection(Re, diagGz, r_source, directions + 3 * i, points + 3 * i);
    return finish();
}

// -- a native subclass with its own kernel table ------------------------------------------

const EllipsoidKernels* g_base_table = nullptr;
EllipsoidKernels g_instrumented_table;

struct SlotCounts {
    long c_pos_from_lla = 0, c_enu = 0, c_aer_coords = 0, c_surf_pos_of_ray_first_intersection = 0;
} g_counts;
bool g_fail_c_enu = false;

void counted_pos_from_lla(EllipsoidObject* self, LLA lla, double* r) {
    ++g_counts.c_pos_from_lla;
    g_base_table->c_pos_from_lla(self, lla, r);
}

// Fails as a kernel that called into Python would: the error is set under the lock and
// left pending for the caller's test.
void counted_enu(EllipsoidObject* self, SurfCoord point, ENU_Frame* enu) {
    ++g_counts.c_enu;
    if (g_fail_c_enu) {
        PyGILState_STATE state = PyGILState_Ensure();
        PyErr_SetString(PyExc_RuntimeError, "c_enu failed");
        PyGILState_Release(state);
        return;
    }
    g_base_table->c_enu(self, point, enu);
}

void counted_aer_coords(EllipsoidObject* self, double* r_target, LLA lla_obs, AER* aer) {
    ++g_counts.c_aer_coords;
    g_base_table->c_aer_coords(self, r_target, lla_obs, aer);
}

void counted_ray(EllipsoidObject* self, double* r_ray, double* u_ray, double* r_surf) {
    ++g_counts.c_surf_pos_of_ray_first_intersection;
    g_base_table->c_surf_pos_of_ray_first_intersection(self, r_ray, u_ray, r_surf);
}

PyObject* instrumented_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* self = g_ellipsoid_type->tp_new(type, args, kwargs);
    if (self) reinterpret_cast<EllipsoidObject*>(self)->vtab = &g_instrumented_table;
    return self;
}

void instrumented_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot g_instrumented_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(instrumented_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(instrumented_dealloc)},
    {Py_tp_doc, const_cast<char*>("An Ellipsoid whose observation kernels count their calls.")},
    {0, nullptr},
};

PyType_Spec g_instrumented_spec = {
    "orbalis._testing._kernels.InstrumentedEllipsoid",
    static_cast<int>(sizeof(EllipsoidObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    g_instrumented_slots,
};

// take_counts() -> dict of slot calls since the last call; the counters restart at 0.
PyObject* take_counts(PyObject*, PyObject*) {
    PyObject* result = Py_BuildValue("{s:l,s:l,s:l,s:l}", "c_pos_from_lla", g_counts.c_pos_from_lla,
                                     "c_enu", g_counts.c_enu, "c_aer_coords", g_counts.c_aer_coords,
                                     "c_surf_pos_of_ray_first_intersection",
                                     g_counts.c_surf_pos_of_ray_first_intersection);
    g_counts = SlotCounts{};
    return result;
}

// set_fail_c_enu(flag): makes the instrumented c_enu raise RuntimeError (or stop raising).
PyObject* set_fail_c_enu(PyObject*, PyObject* flag) {
    const int value = PyObject_IsTrue(flag);
    if (value < 0) return nullptr;
    g_fail_c_enu = value != 0;
    Py_RETURN_NONE;
}

// -- module ---------------------------------------------------------------------------------

// A METH_FASTCALL function as the PyCFunction the method table stores.
template <class Fn>
PyCFunction as_cfunction(Fn fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// Binds the lingeom kernels that aer_from_observer, instantiated here, calls.
int bind_vector_kernels() {
    Ref capi = py::import_attr("orbalis.mathtools.lingeom.lingeom", "__pyx_capi__");
    if (!capi) return -1;
    struct {
        const char* name;
        const char* signature;
        void** entry;
    } const wanted[] = {
        {"sub", lingeom::kBinarySignature,
         reinterpret_cast<void**>(&ellipsoid::g_vector_kernels.sub)},
        {"dot", lingeom::kDotSignature, reinterpret_cast<void**>(&ellipsoid::g_vector_kernels.dot)},
        {"norm", lingeom::kNormSignature,
         reinterpret_cast<void**>(&ellipsoid::g_vector_kernels.norm)},
    };
    for (const auto& w : wanted) {
        Ref capsule = Ref::steal(
            PyObject_GetItem(capi.get(), Ref::steal(PyUnicode_FromString(w.name)).get()));
        if (!capsule) return -1;
        *w.entry = PyCapsule_GetPointer(capsule.get(), w.signature);
        if (!*w.entry) return -1;
    }
    return 0;
}

int exec_module(PyObject* module) {
    Ref type = py::import_attr("orbalis.mathtools.ellipsoid.ellipsoid", "Ellipsoid");
    if (!type) return -1;
    if (!PyType_Check(type.get())) {
        PyErr_SetString(PyExc_ImportError,
                        "orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid is not a type");
        return -1;
    }
    g_ellipsoid_type = reinterpret_cast<PyTypeObject*>(type.release());
    Ref capsule = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(g_ellipsoid_type), "__pyx_vtable__"));
    if (!capsule) return -1;
    g_base_table =
        static_cast<const EllipsoidKernels*>(PyCapsule_GetPointer(capsule.get(), nullptr));
    if (!g_base_table || bind_vector_kernels() < 0) return -1;

    g_instrumented_table = *g_base_table;
    g_instrumented_table.c_pos_from_lla = counted_pos_from_lla;
    g_instrumented_table.c_enu = counted_enu;
    g_instrumented_table.c_aer_coords = counted_aer_coords;
    g_instrumented_table.c_surf_pos_of_ray_first_intersection = counted_ray;
    Ref bases = Ref::steal(PyTuple_Pack(1, g_ellipsoid_type));
    if (!bases) return -1;
    Ref instrumented =
        Ref::steal(PyType_FromModuleAndSpec(module, &g_instrumented_spec, bases.get()));
    if (!instrumented) return -1;
    Ref vtable = Ref::steal(PyCapsule_New(&g_instrumented_table, nullptr, nullptr));
    if (!vtable || PyObject_SetAttrString(instrumented.get(), "__pyx_vtable__", vtable.get()) < 0)
        return -1;
    return PyModule_AddObjectRef(module, "InstrumentedEllipsoid", instrumented.get());
}

PyMethodDef g_module_methods[] = {
    {"lla_from_pos", as_cfunction(lla_from_pos), METH_FASTCALL,
     "lla_from_pos(e, r, out): c_lla_from_pos per row of r (n, 3) into out (n,) LLA records."},
    {"pos_from_lla", as_cfunction(pos_from_lla), METH_FASTCALL,
     "pos_from_lla(e, lla, out): c_pos_from_lla per LLA record into out (n, 3)."},
    {"enu", as_cfunction(enu), METH_FASTCALL,
     "enu(e, lat, lon, out): c_enu per point into out (n,) ENU records."},
    {"aer_coords", as_cfunction(aer_coords), METH_FASTCALL,
     "aer_coords(e, r, lat, lon, alt, out): c_aer_coords per row of r into out (n,) AER records."},
    {"aer_from_observer", as_cfunction(aer_from_observer), METH_FASTCALL,
     "aer_from_observer(e, r, lat, lon, alt, out): the observer's position and frame once, then\n"
     "the per-target steps of c_aer_coords per row of r."},
    {"ray", as_cfunction(ray), METH_FASTCALL,
     "ray(e, r_source, u, out): c_surf_pos_of_ray_first_intersection per row of u into out (n, 3)."},
    {"ray_first_intersection", as_cfunction(ray_first_intersection), METH_FASTCALL,
     "ray_first_intersection(e, r_source, u, out): the ray kernel's quotient of f once, then the\n"
     "rest of the kernel per row of u into out (n, 3)."},
    {"take_counts", take_counts, METH_NOARGS,
     "take_counts() -> dict: calls of InstrumentedEllipsoid's slots since the last take_counts()."},
    {"set_fail_c_enu", set_fail_c_enu, METH_O,
     "set_fail_c_enu(flag): make InstrumentedEllipsoid's c_enu raise RuntimeError or not."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace
}  // namespace orbalis::testing

PyMODINIT_FUNC PyInit__kernels() {
    return orbalis::py::init_module<orbalis::testing::exec_module>(
        "_kernels",
        "Plain native loops over the Ellipsoid kernel table and an instrumented native subclass,\n"
        "for benchmarks and tests. Inputs are C-contiguous float64 arrays or record arrays of the\n"
        "exact record sizes; outputs are written in place.",
        orbalis::testing::g_module_methods);
}
