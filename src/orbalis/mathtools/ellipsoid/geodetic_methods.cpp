// Python-level methods for latitudes, surface points and geodetic positions. Each is a
// thin loop around one kernel of the table: bind the arguments, tell one input from a
// batch, check shapes, allocate the result once, then one kernel call per element or row
// followed by the pending-error test.
#include "convention.hpp"
#include "methods.hpp"

namespace orbalis::ellipsoid {
namespace {

#define QUALNAME(method) "orbalis.mathtools.ellipsoid.ellipsoid.Ellipsoid." method

constexpr const char* kScalarOrArray = "double | ndarray[double]";
constexpr const char* kVectors = "ndarray[double]";

EllipsoidObject* ellipsoid(PyObject* self) { return as_ellipsoid(self); }
const EllipsoidKernels& table(PyObject* self) { return *as_ellipsoid(self)->__pyx_vtab; }

// `numpy.zeros_like(x)` taken as a writable one-dimensional view of doubles: an input
// that is not a one-dimensional float64 array is refused here, before anything is read.
Ref zeros_like_doubles(PyObject* x, double*& data) {
    Ref out;
    if (PyArray_CheckExact(x)) {
        auto* arr = reinterpret_cast<PyArrayObject*>(x);
        // What zeros_like would allocate, without the call: only its dimensions and dtype
        // matter to the view check below. The one shape the check accepts is allocated
        // zeroed by calloc, so memory is only touched as results are written.
        if (PyArray_NDIM(arr) == 1 && PyArray_TYPE(arr) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(arr))
            out = Ref::steal(PyArray_ZEROS(1, PyArray_DIMS(arr), NPY_DOUBLE, 0));
        else
            out = Ref::steal(PyArray_NewLikeArray(arr, NPY_KEEPORDER, nullptr, 1));
    } else {
        PyObject* numpy = module_global(module_state.numpy_name);
        if (!numpy) return {};
        out = Ref::steal(PyObject_CallMethod(numpy, "zeros_like", "O", x));
    }
    if (!out) return {};
    if (!PyArray_Check(out.get())) {
        PyErr_SetString(PyExc_ValueError, "zeros_like did not give an array");
        return {};
    }
    auto* arr = reinterpret_cast<PyArrayObject*>(out.get());
    if (PyArray_NDIM(arr) != 1) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected 1, got %d)",
                     PyArray_NDIM(arr));
        return {};
    }
    if (PyArray_TYPE(arr) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(arr)) {
        PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected 'double' but got %R",
                     reinterpret_cast<PyObject*>(PyArray_DESCR(arr)));
        return {};
    }
    if (!PyArray_IS_C_CONTIGUOUS(arr) || !PyArray_ISWRITEABLE(arr)) {
        // zeros_like of a subclass may not give a plain buffer; copy into one.
        out = Ref::steal(PyArray_FROM_OTF(out.get(), NPY_DOUBLE, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ENSURECOPY));
        if (!out) return {};
    }
    data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    return out;
}

// -- latitude conversions --------------------------------------------------------------------

using LatitudeSlot = double (*EllipsoidKernels::*)(EllipsoidObject*, double);

PyObject* latitude_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                          const char* name, const char* qualname, const char* arg_name,
                          LatitudeSlot slot) {
    PyObject* x;
    if (py::bind_arguments(name, args, nargs, kwnames, &arg_name, 1, 1, &x) < 0)
        return method_error(qualname);
    EllipsoidObject* e = ellipsoid(self);
    const auto kernel = table(self).*slot;
    const int scalar = is_real(x);
    if (scalar < 0) return method_error(qualname);
    if (scalar) {
        double value;
        if (!as_double(x, value)) return method_error(qualname);
        const double result = kernel(e, value);
        if (PyErr_Occurred()) return method_error(qualname);
        return PyFloat_FromDouble(result);
    }
    double* out;
    Ref result = zeros_like_doubles(x, out);
    if (!result) return method_error(qualname);
    const Py_ssize_t n = batch_length(x);
    if (n < 0) return method_error(qualname);
    // zeros_like may be overridden (__array_function__) or see another array than x's
    // items (__array__): the loop writes n elements, so the output must have them.
    const npy_intp length = PyArray_DIM(reinterpret_cast<PyArrayObject*>(result.get()), 0);
    if (length != n) {
        PyErr_Format(PyExc_ValueError,
                     "zeros_like gave an output of length %zd for an input of length %zd "
                     "(shape[0])",
                     static_cast<Py_ssize_t>(length), n);
        return method_error(qualname);
    }
    const bool ok = for_each_element<1>(&x, n, [&](const double* v, Py_ssize_t i) { out[i] = kernel(e, v[0]); });
    return ok ? result.release() : method_error(qualname);
}

PyObject* reduced_lat_from_geodetic_lat(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    return latitude_method(self, args, nargs, kwnames, "reduced_lat_from_geodetic_lat",
                           QUALNAME("reduced_lat_from_geodetic_lat"), "geodetic_lat",
                           &EllipsoidKernels::c_reduced_lat_from_geodetic_lat);
}

PyObject* geodetic_lat_from_reduced_lat(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    return latitude_method(self, args, nargs, kwnames, "geodetic_lat_from_reduced_lat",
                           QUALNAME("geodetic_lat_from_reduced_lat"), "reduced_lat",
                           &EllipsoidKernels::c_geodetic_lat_from_reduced_lat);
}

PyObject* solve_reduced_lat_equation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    constexpr const char* qualname = QUALNAME("solve_reduced_lat_equation");
    static const char* const names[] = {"r"};
    PyObject* r;
    if (py::bind_arguments("solve_reduced_lat_equation", args, nargs, kwnames, names, 1, 1, &r) < 0)
        return method_error(qualname);
    EllipsoidObject* e = ellipsoid(self);
    const auto kernel = table(self).c_solve_reduced_lat_equation;
    Py_ssize_t n;
    const int single = single_vector_or_rows(r, false, n);
    if (single < 0) return method_error(qualname);
    if (single) {
        double v[3];
        if (!read_vector(r, v)) return method_error(qualname);
        const double beta = kernel(e, v);
        if (PyErr_Occurred()) return method_error(qualname);
        return PyFloat_FromDouble(beta);
    }
    double* out;
    Ref result = new_doubles(n, 0, out);
    if (!result) return method_error(qualname);
    const bool ok = for_each_row(r, n, [&](double* v, Py_ssize_t j) { out[j] = kernel(e, v); });
    return ok ? result.release() : method_error(qualname);
}

// -- surface points ----------------------------------------------------------------------------

PyObject* surf_pos_from_surf_coord(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    constexpr const char* qualname = QUALNAME("surf_pos_from_surf_coord");
    static const char* const names[] = {"lat", "lon"};
    PyObject* inputs[2];
    if (py::bind_arguments("surf_pos_from_surf_coord", args, nargs, kwnames, names, 2, 2, inputs) < 0)
        return method_error(qualname);
    EllipsoidObject* e = ellipsoid(self);
    const auto kernel = ORBALIS_METHOD_KERNEL(e, c_surf_pos_from_surf_coord);
    const int scalar = all_real(inputs, 2);
    if (scalar < 0) return method_error(qualname);
    double* out;
    if (scalar) {
        double v[2];
        if (!read_doubles(inputs, 2, v)) return method_error(qualname);
        double r_surf[3];
        kernel(e, SurfCoord{v[0], v[1]}, r_surf);
        if (PyErr_Occurred()) return method_error(qualname);
        Ref result = new_doubles(3, 0, out);
        if (!result) return method_error(qualname);
        std::memcpy(out, r_surf, sizeof r_surf);
        return result.release();
    }
    if (!check_same_1d(inputs, 2)) return method_error(qualname);
    const Py_ssize_t n = batch_length(inputs[0]);
    if (n < 0) return method_error(qualname);
    Ref result = new_doubles(n, 3, out);
    if (!result) return method_error(qualname);
    const bool ok = for_each_element<2>(inputs, n, [&](const double* v, Py_ssize_t i) {
        kernel(e, SurfCoord{v[0], v[1]}, out + 3 * i);
    });
    return ok ? result.release() : method_error(qualname);
}

PyObject* surf_coord_from_surf_pos(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    constexpr const char* qualname = QUALNAME("surf_coord_from_surf_pos");
    static const char* const names[] = {"r_surf"};
    PyObject* r;
    if (py::bind_arguments("surf_coord_from_surf_pos", args, nargs, kwnames, names, 1, 1, &r) < 0)
        return method_error(qualname);
    EllipsoidObject* e = ellipsoid(self);
    const auto kernel = ORBALIS_METHOD_KERNEL(e, c_surf_coord_from_surf_pos);
    Py_ssize_t n;
    const int single = single_vector_or_rows(r, true, n);
    if (single < 0) return method_error(qualname);
    char* data;
    if (single) {
        Ref result = new_records(kSurfCoordLayout, 1, data);
        double v[3];
        if (!result || !read_vector(r, v)) return method_error(qualname);
        kernel(e, v, reinterpret_cast<SurfCoord*>(data));
        if (PyErr_Occurred()) return method_error(qualname);
        return result.release();
    }
    Ref result = new_records(kSurfCoordLayout, n, data);
    if (!result) return method_error(qualname);
    auto* points = reinterpret_cast<SurfCoord*>(data);
    const bool ok = for_each_row(r, n, [&](double* v, Py_ssize_t j) { kernel(e, v, points + j); });
    return ok ? result.release() : method_error(qualname);
}

// -- geodetic positions --------------------------------------------------------------------------

PyObject* lla_from_pos(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const char* qualname = QUALNAME("lla_from_pos");
    static const char* const names[] = {"r"};
    PyObject* r;
    if (py::bind_arguments("lla_from_pos", args, nargs, kwnames, names, 1, 1, &r) < 0)
        return method_error(qualname);
    EllipsoidObject* e = ellipsoid(self);
    const auto kernel = ORBALIS_METHOD_KERNEL(e, c_lla_from_pos);
    Py_ssize_t n;
    const int single = single_vector_or_rows(r, false, n);
    if (single < 0) return method_error(qualname);
    char* data;
    if (single) {
        Ref result = new_records(kLLALayout, 1, data);
        double v[3];
        if (!result || !read_vector(r, v)) return method_error(qualname);
        kernel(e, v, reinterpret_cast<LLA*>(data));
        if (PyErr_Occurred()) return method_error(qualname);
        return result.release();
    }
    Ref result = new_records(kLLALayout, n, data);
    if (!result) return method_error(qualname);
    auto* records = reinterpret_cast<LLA*>(data);
    const bool ok = for_each_row(r, n, [&](double* v, Py_ssize_t j) { kernel(e, v, records + j); });
    return ok ? result.release() : method_error(qualname);
}

PyObject* pos_from_lla(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const char* qualname = QUALNAME("pos_from_lla");
    static const char* const names[] = {"lat", "lon", "alt"};
    PyObject* inputs[3];
    if (py::bind_arguments("pos_from_lla", args, nargs, kwnames, names, 3, 3, inputs) < 0)
        return method_error(qualname);
    EllipsoidObject* e = ellipsoid(self);
    const auto kernel = ORBALIS_METHOD_KERNEL(e, c_pos_from_lla);
    const int scalar = all_real(inputs, 3);
    if (scalar < 0) return method_error(qualname);
    double* out;
    if (scalar) {
        double v[3];
        if (!read_doubles(inputs, 3, v)) return method_error(qualname);
        double r[3];
        kernel(e, LLA{v[0], v[1], v[2]}, r);
        if (PyErr_Occurred()) return method_error(qualname);
        Ref result = new_doubles(3, 0, out);
        if (!result) return method_error(qualname);
        std::memcpy(out, r, sizeof r);
        return result.release();
    }
    if (!check_same_1d(inputs, 3)) return method_error(qualname);
    const Py_ssize_t n = batch_length(inputs[0]);
    if (n < 0) return method_error(qualname);
    Ref result = new_doubles(n, 3, out);
    if (!result) return method_error(qualname);
    const bool ok = for_each_element<3>(inputs, n, [&](const double* v, Py_ssize_t i) {
        kernel(e, LLA{v[0], v[1], v[2]}, out + 3 * i);
    });
    return ok ? result.release() : method_error(qualname);
}

const char* const kReducedLatAnnotations[] = {"geodetic_lat", kScalarOrArray, "return", kScalarOrArray, nullptr};
const char* const kGeodeticLatAnnotations[] = {"reduced_lat", kScalarOrArray, "return", kScalarOrArray, nullptr};
const char* const kSurfPosAnnotations[] = {"lat", kScalarOrArray, "lon", kScalarOrArray, "return", kVectors, nullptr};
const char* const kSurfCoordAnnotations[] = {"r_surf", kVectors, "return", "ndarray[SurfCoord_dtype]", nullptr};
const char* const kSolveAnnotations[] = {"r", kVectors, "return", kScalarOrArray, nullptr};
const char* const kLlaAnnotations[] = {"r", kVectors, "return", "ndarray[LLA_dtype]", nullptr};
const char* const kPosAnnotations[] = {"lat", kScalarOrArray, "lon", kScalarOrArray, "alt", kScalarOrArray,
                                       "return", kVectors, nullptr};

}  // namespace

const py::AnnotatedMethodDef kReducedLatFromGeodeticLat = {
    "reduced_lat_from_geodetic_lat", reduced_lat_from_geodetic_lat,
    "Ellipsoid.reduced_lat_from_geodetic_lat(self, geodetic_lat: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Reduced (parametric) latitude beta = atan((1 - f) tan(phi)) of geodetic latitudes phi.\n"
    "\n"
    "A real number gives a float; a one-dimensional float64 array gives a float64 array of\n"
    "the same length (any other array raises ValueError). Results lie in [-pi/2, pi/2]:\n"
    "inputs outside (-pi/2, pi/2) are folded by the tangent's period.",
    kReducedLatAnnotations};

const py::AnnotatedMethodDef kGeodeticLatFromReducedLat = {
    "geodetic_lat_from_reduced_lat", geodetic_lat_from_reduced_lat,
    "Ellipsoid.geodetic_lat_from_reduced_lat(self, reduced_lat: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Geodetic latitude phi = atan(tan(beta) / (1 - f)) of reduced latitudes beta.\n"
    "\n"
    "A real number gives a float; a one-dimensional float64 array gives a float64 array of\n"
    "the same length (any other array raises ValueError).",
    kGeodeticLatAnnotations};

const py::AnnotatedMethodDef kSurfPosFromSurfCoord = {
    "surf_pos_from_surf_coord", surf_pos_from_surf_coord,
    "Ellipsoid.surf_pos_from_surf_coord(self, lat: double | ndarray[double], lon: double | ndarray[double]) -> ndarray[double]\n"
    "\n"
    "Cartesian position of surface points given by geodetic latitude and longitude.\n"
    "\n"
    "Two real numbers give shape (3,); two one-dimensional arrays of length N give (N, 3).",
    kSurfPosAnnotations};

const py::AnnotatedMethodDef kSurfCoordFromSurfPos = {
    "surf_coord_from_surf_pos", surf_coord_from_surf_pos,
    "Ellipsoid.surf_coord_from_surf_pos(self, r_surf: ndarray[double]) -> ndarray[SurfCoord_dtype]\n"
    "\n"
    "Geodetic latitude and longitude of positions on the surface.\n"
    "\n"
    "Only z fixes the latitude (the position is taken to lie on the surface); |z| above the\n"
    "polar radius gives NaN. A (3,) input gives a (1,) SurfCoord_dtype array, (N, 3) gives (N,).",
    kSurfCoordAnnotations};

const py::AnnotatedMethodDef kSolveReducedLatEquation = {
    "solve_reduced_lat_equation", solve_reduced_lat_equation,
    "Ellipsoid.solve_reduced_lat_equation(self, r: ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Reduced latitude of the foot of the surface normal through positions r (Newton's method).\n"
    "\n"
    "A (3,) input gives a float, (N, 3) a float64 array of shape (N,). The origin, a sphere\n"
    "(f = 0) and points where the iteration cannot settle give NaN.",
    kSolveAnnotations};

const py::AnnotatedMethodDef kLlaFromPos = {
    "lla_from_pos", lla_from_pos,
    "Ellipsoid.lla_from_pos(self, r: ndarray[double]) -> ndarray[LLA_dtype]\n"
    "\n"
    "Geodetic latitude, longitude and altitude of Cartesian positions.\n"
    "\n"
    "A (3,) input gives a (1,) LLA_dtype array, (N, 3) gives (N,); fields lat, lon (radians,\n"
    "lon in (-pi, pi]) and alt (unit of Re, negative inside the ellipsoid). Positions on the\n"
    "polar axis get lon 0; the origin gives lat NaN.",
    kLlaAnnotations};

const py::AnnotatedMethodDef kPosFromLla = {
    "pos_from_lla", pos_from_lla,
    "Ellipsoid.pos_from_lla(self, lat: double | ndarray[double], lon: double | ndarray[double], alt: double | ndarray[double]) -> ndarray[double]\n"
    "\n"
    "Cartesian positions of geodetic coordinates (radians, altitude in the unit of Re).\n"
    "\n"
    "Three real numbers give shape (3,); three one-dimensional arrays of length N give (N, 3).",
    kPosAnnotations};

}  // namespace orbalis::ellipsoid
