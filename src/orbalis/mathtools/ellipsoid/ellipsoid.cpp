// The ellipsoid extension module: the Ellipsoid type (construction, validation,
// properties, refusal of pickling), its kernel table, and the import sequence that binds
// the lingeom kernels, NumPy, the record dtypes and numbers.Real. The Python-level
// methods are the rows of methods.cpp.
#define ORBALIS_ELLIPSOID_IMPORTS_NUMPY
#include "convention.hpp"
#include "methods.hpp"

namespace orbalis::ellipsoid {

const EllipsoidKernels kKernelTable = make_kernel_table<EllipsoidObject>();

namespace {

const char* const kArgNames[] = {"Re", "f"};

// Binds and converts (Re, f) as both construction steps do.
bool parse_re_f(PyObject* args, PyObject* kwargs, double& Re, double& f) {
    PyObject* values[2];
    if (py::bind_arguments("Ellipsoid", args, kwargs, kArgNames, 2, 2, values) < 0) return false;
    return as_double(values[0], Re) && as_double(values[1], f);
}

// Validation happens here, in the allocation step, so that no Ellipsoid exists with
// invalid fields (a subclass's __init__ cannot skip it). The checks are assertions and,
// like `assert`, are skipped under `python -O`.
PyObject* ellipsoid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    double Re, f;
    if (!parse_re_f(args, kwargs, Re, f)) return nullptr;
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    EllipsoidObject* e = as_ellipsoid(self.get());
    e->vtab = &kKernelTable;
    // NaN fails both comparisons.
    if (assertions_enabled() && !(Re > 0.0)) return py::raise_assertion(), nullptr;
    e->Re = Re;
    if (assertions_enabled() && !(0.0 <= f && f < 1.0)) return py::raise_assertion(), nullptr;
    e->f = f;
    e->Rp = (1.0 - f) * Re;
    return self.release();
}

// Takes the same arguments as construction and changes nothing.
int ellipsoid_init(PyObject*, PyObject* args, PyObject* kwargs) {
    double Re, f;
    return parse_re_f(args, kwargs, Re, f) ? 0 : -1;
}

// A heap type's instances hold a reference to their type, dropped after the memory.
void ellipsoid_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* get_Re(PyObject* self, void*) { return PyFloat_FromDouble(as_ellipsoid(self)->Re); }
PyObject* get_f(PyObject* self, void*) { return PyFloat_FromDouble(as_ellipsoid(self)->f); }
PyObject* get_Rp(PyObject* self, void*) { return PyFloat_FromDouble(as_ellipsoid(self)->Rp); }

PyObject* ellipsoid_repr(PyObject* self) {
    const EllipsoidObject* e = as_ellipsoid(self);
    Ref re = Ref::steal(PyFloat_FromDouble(e->Re));
    Ref f = Ref::steal(PyFloat_FromDouble(e->f));
    if (!re || !f) return nullptr;
    return PyUnicode_FromFormat("%s(Re=%R, f=%R)", _PyType_Name(Py_TYPE(self)), re.get(), f.get());
}

PyGetSetDef g_ellipsoid_getset[] = {
    {"Re", get_Re, nullptr, "Equatorial radius (semi-major axis a), in metres by convention.",
     nullptr},
    {"f", get_f, nullptr, "Flattening factor, in [0, 1).", nullptr},
    {"Rp", get_Rp, nullptr, "Polar radius (semi-minor axis b) = (1 - f) Re.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef g_ellipsoid_methods[] = {
    py::kRefuseReduce,
    py::kRefuseSetstate,
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char* kEllipsoidDoc =
    "Ellipsoid(double Re, double f) -> None\n"
    "\n"
    "A reference ellipsoid of revolution and the geodetic conversions on it.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "Re : float\n"
    "    Equatorial radius, in metres (every length is in the unit of Re).\n"
    "    Must be greater than zero\n"
    "f : float\n"
    "    Flattening factor (Re - Rp) / Re.\n"
    "    Must be in the range [0.0, 1.0)\n"
    "\n"
    "Angles are radians throughout. The object is immutable; invalid parameters raise\n"
    "AssertionError (checks skipped under ``python -O``).\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> wgs84 = Ellipsoid(6378137.0, 1 / 298.257223563)\n"
    ">>> wgs84.Rp\n"
    "6356752.314245179\n";

PyType_Slot g_ellipsoid_slots[] = {
    {Py_tp_doc, const_cast<char*>(kEllipsoidDoc)},
    {Py_tp_new, reinterpret_cast<void*>(ellipsoid_new)},
    {Py_tp_init, reinterpret_cast<void*>(ellipsoid_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(ellipsoid_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(ellipsoid_repr)},
    {Py_tp_getset, g_ellipsoid_getset},
    {Py_tp_methods, g_ellipsoid_methods},
    {0, nullptr},
};

// Subclassable; no GC (an Ellipsoid holds no references), no dict, no weak references.
// Immutable, like the static type it replaces: the methods and the `__pyx_vtable__`
// capsule are installed once below, and no Python code may rebind them on the type (a
// subclass may, on itself).
PyType_Spec g_ellipsoid_spec = {
    kTypeName,
    static_cast<int>(sizeof(EllipsoidObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    g_ellipsoid_slots,
};

// The type, owned by the module for the life of the process (the module cannot be
// initialised twice).
PyTypeObject* g_ellipsoid_type = nullptr;

int ready_type(PyObject* module) {
    g_ellipsoid_type = reinterpret_cast<PyTypeObject*>(
        PyType_FromModuleAndSpec(module, &g_ellipsoid_spec, nullptr));
    if (!g_ellipsoid_type) return -1;
    // The kernel table, for native code that calls an Ellipsoid's kernels directly.
    Ref vtable =
        Ref::steal(PyCapsule_New(const_cast<EllipsoidKernels*>(&kKernelTable), nullptr, nullptr));
    if (!vtable ||
        PyDict_SetItemString(g_ellipsoid_type->tp_dict, "__pyx_vtable__", vtable.get()) < 0)
        return -1;
    PyType_Modified(g_ellipsoid_type);
    return PyModule_AddObjectRef(module, "Ellipsoid",
                                 reinterpret_cast<PyObject*>(g_ellipsoid_type));
}

// Binds one lingeom kernel: the capsule must exist and be named by the exact signature.
template <class Fn>
int bind_kernel(PyObject* capi, const char* name, const char* signature, Fn& entry) {
    PyObject* capsule = PyDict_GetItemString(capi, name);
    if (!capsule) {
        PyErr_Format(PyExc_ImportError,
                     "orbalis.mathtools.lingeom.lingeom does not export expected C function %s",
                     name);
        return -1;
    }
    const char* actual = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : nullptr;
    if (!actual || std::strcmp(actual, signature) != 0) {
        PyErr_Format(PyExc_TypeError,
                     "C function orbalis.mathtools.lingeom.lingeom.%s has wrong signature "
                     "(expected %s, got %s)",
                     name, signature, actual ? actual : "<not a named capsule>");
        return -1;
    }
    entry = reinterpret_cast<Fn>(PyCapsule_GetPointer(capsule, actual));
    return entry ? 0 : -1;
}

int bind_lingeom() {
    Ref capi = py::import_attr("orbalis.mathtools.lingeom.lingeom", "__pyx_capi__");
    if (!capi) return -1;
    if (!PyDict_Check(capi.get())) {
        PyErr_SetString(PyExc_ImportError,
                        "orbalis.mathtools.lingeom.lingeom.__pyx_capi__ is not a dict");
        return -1;
    }
    VectorKernels bound{};
    if (bind_kernel(capi.get(), "scale", lingeom::kScaleSignature, bound.scale) < 0 ||
        bind_kernel(capi.get(), "add", lingeom::kBinarySignature, bound.add) < 0 ||
        bind_kernel(capi.get(), "sub", lingeom::kBinarySignature, bound.sub) < 0 ||
        bind_kernel(capi.get(), "dot", lingeom::kDotSignature, bound.dot) < 0 ||
        bind_kernel(capi.get(), "norm", lingeom::kNormSignature, bound.norm) < 0)
        return -1;
    g_vector_kernels = bound;
    return 0;
}

int exec_module(PyObject* module) {
    if (PyArray_ImportNumPyAPI() < 0) return -1;
    const int assertions = py::read_assertions_enabled();
    if (assertions < 0) return -1;
    g_module_state.assertions_enabled = assertions != 0;
    g_module_state.dict = PyModule_GetDict(module);
    g_module_state.numpy_name = PyUnicode_InternFromString("numpy");
    g_module_state.real_name = PyUnicode_InternFromString("Real");
    if (!g_module_state.numpy_name || !g_module_state.real_name) return -1;
    for (int k = 0; k < 4; ++k) {
        g_module_state.dtype_names[k] = PyUnicode_InternFromString(kRecordLayouts[k].dtype_name);
        if (!g_module_state.dtype_names[k]) return -1;
    }
    if (ready_type(module) < 0) return -1;
    g_record_store_type = make_record_store_type(module);
    if (!g_record_store_type) return -1;
    if (bind_lingeom() < 0) return -1;
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyModule_AddObjectRef(module, "numpy", numpy.get()) < 0) return -1;
    for (const RecordLayout& layout : kRecordLayouts)
        if (py::bind_import(g_module_state.dict, "orbalis.datamodel", layout.dtype_name) < 0)
            return -1;
    if (py::bind_import(g_module_state.dict, "numbers", "Real") < 0) return -1;
    PyTypeObject* method_type =
        py::make_annotated_method_type("orbalis.mathtools.ellipsoid.ellipsoid.method");
    if (!method_type) return -1;
    const int added = py::add_annotated_methods(method_type, g_ellipsoid_type, kMethodTable);
    Py_DECREF(method_type);  // each descriptor holds a reference to its type
    return added;
}

}  // namespace
}  // namespace orbalis::ellipsoid

PyMODINIT_FUNC PyInit_ellipsoid() {
    return orbalis::py::init_module<orbalis::ellipsoid::exec_module>(
        "ellipsoid",
        "Geometry on a reference ellipsoid of revolution.\n\n"
        "The ``Ellipsoid`` type converts between geodetic latitude, reduced latitude, surface\n"
        "coordinates, geodetic coordinates (lat, lon, alt) and Cartesian positions, builds local\n"
        "East-North-Up frames, observes targets as azimuth, elevation and range, and intersects\n"
        "rays with the surface. Angles are radians; lengths are in the unit of ``Re``.");
}
