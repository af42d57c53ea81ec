// Python-level methods for observation geometry: the local East-North-Up frame of
// surface points, azimuth, elevation and range of targets seen from a geodetic observer,
// and the first point where rays meet the surface. Like the geodetic methods, each binds
// its arguments, tells one input from a batch, checks shapes, allocates its result once
// and then makes one kernel call per element or row followed by the pending-error test.
#include "convention.hpp"
#include "methods.hpp"

namespace orbalis::ellipsoid {
namespace {

constexpr const char* kScalarOrArray = "double | ndarray[double]";
constexpr const char* kVectors = "ndarray[double]";
constexpr const char* kDouble = "double";

// Length of the batch for `numpy.zeros(shape=lat.shape, ...)` taken as a one-dimensional
// view: a shape of another length (only reachable with the checks skipped under
// `python -O`) cannot be viewed so and is refused before anything is computed.
Py_ssize_t one_dimensional_length(PyObject* obj) {
    Ref shape = Ref::steal(PyObject_GetAttrString(obj, "shape"));
    if (!shape) return -1;
    if (PyTuple_Check(shape.get()) && PyTuple_GET_SIZE(shape.get()) != 1) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected 1, got %zd)",
                     PyTuple_GET_SIZE(shape.get()));
        return -1;
    }
    return batch_length(obj);
}

// -- local ENU frame ------------------------------------------------------------------------

PyObject* enu(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const char* qualname = ORBALIS_KERNEL_NAME(enu);
    static const char* const names[] = {"lat", "lon"};
    PyObject* inputs[2];
    if (py::bind_arguments("enu", args, nargs, kwnames, names, 2, 2, inputs) < 0)
        return method_error(qualname);
    EllipsoidObject* e = as_ellipsoid(self);
    const auto kernel = ORBALIS_METHOD_KERNEL(e, c_enu);
    const int scalar = all_real(inputs, 2);
    if (scalar < 0) return method_error(qualname);
    char* data;
    if (scalar) {
        double v[2];
        if (!read_doubles(inputs, 2, v)) return method_error(qualname);
        Ref result = new_records(kENULayout, 1, data);
        if (!result) return method_error(qualname);
        kernel(e, SurfCoord{v[0], v[1]}, reinterpret_cast<ENU_Frame*>(data));
        if (PyErr_Occurred()) return method_error(qualname);
        return result.release();
    }
    if (!check_same_1d(inputs, 2)) return method_error(qualname);
    const Py_ssize_t n = one_dimensional_length(inputs[0]);
    if (n < 0) return method_error(qualname);
    Ref result = new_records(kENULayout, n, data);
    if (!result) return method_error(qualname);
    auto* frames = reinterpret_cast<ENU_Frame*>(data);
    const bool ok = for_each_element<2>(inputs, n, [&](const double* v, Py_ssize_t i) {
        kernel(e, SurfCoord{v[0], v[1]}, frames + i);
    });
    return ok ? result.release() : method_error(qualname);
}

// -- azimuth, elevation, range ----------------------------------------------------------------

// The observer is converted before r_target is looked at, so a non-numeric observer
// raises TypeError whatever r_target is.
PyObject* aer_coords(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const char* qualname = ORBALIS_KERNEL_NAME(aer_coords);
    static const char* const names[] = {"r_target", "lat_obs", "lon_obs", "alt_obs"};
    PyObject* inputs[4];
    if (py::bind_arguments("aer_coords", args, nargs, kwnames, names, 4, 4, inputs) < 0)
        return method_error(qualname);
    PyObject* r_target = inputs[0];
    double obs[3];
    if (!read_doubles(inputs + 1, 3, obs)) return method_error(qualname);
    LLA lla_obs{obs[0], obs[1], obs[2]};
    EllipsoidObject* e = as_ellipsoid(self);
    const EllipsoidKernels& kernels = *e->__pyx_vtab;
    Py_ssize_t n;
    const int single = single_vector_or_rows(r_target, true, n);
    if (single < 0) return method_error(qualname);
    char* data;
    if (single) {
        Ref result = new_records(kAERLayout, 1, data);
        double v[3];
        if (!result || !read_vector(r_target, v)) return method_error(qualname);
        kernels.c_aer_coords(e, v, lla_obs, reinterpret_cast<AER*>(data));
        if (PyErr_Occurred()) return method_error(qualname);
        return result.release();
    }
    Ref result = new_records(kAERLayout, n, data);
    if (!result) return method_error(qualname);
    auto* records = reinterpret_cast<AER*>(data);
    bool ok;
    if (&kernels == &kKernelTable && n > 0) {
        // The observer's position and frame are the same for every target; with this
        // table's own slots they are computed once, bit for bit as c_aer_coords would.
        // The per-target steps touch no Python object, so no error can become pending.
        double r_obs[3];
        ENU_Frame enu_obs;
        kernels.c_pos_from_lla(e, lla_obs, r_obs);
        if (PyErr_Occurred()) return method_error(qualname);
        kernels.c_enu(e, SurfCoord{lla_obs.lat, lla_obs.lon}, &enu_obs);
        if (PyErr_Occurred()) return method_error(qualname);
        ok = for_each_row<false>(r_target, n, [&](double* v, Py_ssize_t j) {
            aer_from_observer(e, v, r_obs, &enu_obs, records + j);
        });
    } else {
        // A replaced slot sees every call the table's c_aer_coords makes.
        ok = for_each_row(r_target, n, [&](double* v, Py_ssize_t j) {
            kernels.c_aer_coords(e, v, lla_obs, records + j);
        });
    }
    return ok ? result.release() : method_error(qualname);
}

// -- ray intersection -------------------------------------------------------------------------

// r_source is checked and read before u_ray is looked at.
PyObject* surf_pos_of_ray_first_intersection(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
    constexpr const char* qualname = ORBALIS_KERNEL_NAME(surf_pos_of_ray_first_intersection);
    static const char* const names[] = {"r_source", "u_ray"};
    PyObject* inputs[2];
    if (py::bind_arguments("surf_pos_of_ray_first_intersection", args, nargs, kwnames, names, 2, 2,
                           inputs) < 0)
        return method_error(qualname);
    PyObject* r_source = inputs[0];
    PyObject* u_ray = inputs[1];
    EllipsoidObject* e = as_ellipsoid(self);
    const auto kernel = e->__pyx_vtab->c_surf_pos_of_ray_first_intersection;
    if (assertions_enabled() && !check(is_single_vector(r_source))) return method_error(qualname);
    double source[3];
    if (!read_vector(r_source, source)) return method_error(qualname);
    Py_ssize_t n;
    const int single = single_vector_or_rows(u_ray, true, n);
    if (single < 0) return method_error(qualname);
    double* out;
    if (single) {
        double u[3], r_surf[3];
        if (!read_vector(u_ray, u)) return method_error(qualname);
        kernel(e, source, u, r_surf);
        if (PyErr_Occurred()) return method_error(qualname);
        Ref result = new_doubles(3, 0, out);
        if (!result) return method_error(qualname);
        std::memcpy(out, r_surf, sizeof r_surf);
        return result.release();
    }
    Ref result;
    bool ok;
    if (kernel == &c_surf_pos_of_ray_first_intersection<EllipsoidObject>) {
        // The module's own kernel: its quotient of f is formed once for the batch, with
        // the same bits, and the rest of it, which touches no Python object, runs per
        // row. It writes every element of every row, so the result needs no zero fill.
        npy_intp dims[2] = {n, 3};
        result = Ref::steal(PyArray_EMPTY(2, dims, NPY_DOUBLE, 0));
        if (!result) return method_error(qualname);
        out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
        const double Re = e->Re, diagGz = ray_diagGz(e->f);
        ok = for_each_row<false>(u_ray, n, [&](double* u, Py_ssize_t j) {
            ray_first_intersection(Re, diagGz, source, u, out + 3 * j);
        });
    } else {
        result = new_doubles(n, 3, out);
        if (!result) return method_error(qualname);
        ok = for_each_row(u_ray, n, [&](double* u, Py_ssize_t j) { kernel(e, source, u, out + 3 * j); });
    }
    return ok ? result.release() : method_error(qualname);
}

const char* const kEnuAnnotations[] = {"lat", kScalarOrArray, "lon", kScalarOrArray, "return", "ndarray[ENU_dtype]",
                                       nullptr};
const char* const kRayAnnotations[] = {"r_source", kVectors, "u_ray", kVectors, "return", kVectors, nullptr};
const char* const kAerAnnotations[] = {"r_target", kVectors, "lat_obs", kDouble, "lon_obs", kDouble,
                                       "alt_obs", kDouble, "return", "ndarray[AER_dtype]", nullptr};

}  // namespace

const py::AnnotatedMethodDef kEnu = {
    "enu", enu,
    "Ellipsoid.enu(self, lat: double | ndarray[double], lon: double | ndarray[double]) -> ndarray[ENU_dtype]\n"
    "\n"
    "Local East-North-Up frames at surface points given by geodetic latitude and longitude.\n"
    "\n"
    "Each record holds three unit vectors in the ellipsoid-fixed frame: u_east =\n"
    "(-sin lon, cos lon, 0), u_north along the meridian and u_up along the outward surface\n"
    "normal; they form a right-handed orthonormal basis (east x north = up). Two real numbers\n"
    "give an ENU_dtype array of shape (1,); two one-dimensional arrays of length N give (N,).",
    kEnuAnnotations};

const py::AnnotatedMethodDef kSurfPosOfRayFirstIntersection = {
    "surf_pos_of_ray_first_intersection", surf_pos_of_ray_first_intersection,
    "Ellipsoid.surf_pos_of_ray_first_intersection(self, r_source: ndarray[double], u_ray: ndarray[double]) -> ndarray[double]\n"
    "\n"
    "Point where rays from one source first meet the surface.\n"
    "\n"
    "r_source has shape (3,); u_ray (3,) gives a (3,) point and (N, 3) gives (N, 3) points.\n"
    "The direction need not be of unit length. Of the two points where the ray's line meets\n"
    "the surface the one nearer the source is returned: for a source outside, the near\n"
    "side; for a source on the surface, the source itself; for a source inside, the\n"
    "nearer surface point along the line in either direction. A line that misses the\n"
    "ellipsoid, and a ray pointing away from it (both points behind the source), give NaN.",
    kRayAnnotations};

const py::AnnotatedMethodDef kAerCoords = {
    "aer_coords", aer_coords,
    "Ellipsoid.aer_coords(self, r_target: ndarray[double], lat_obs: double, lon_obs: double, alt_obs: double) -> ndarray[AER_dtype]\n"
    "\n"
    "Azimuth, elevation and range of Cartesian targets seen from a geodetic observer.\n"
    "\n"
    "The line of sight is resolved in the East-North-Up frame at the observer's foot point.\n"
    "Azimuth runs from north towards east in (-pi, pi] (a target to the north-west has a\n"
    "negative azimuth), elevation from the local horizontal plane, range in the unit of Re.\n"
    "r_target of shape (3,) gives an AER_dtype array of shape (1,); (N, 3) gives (N,). A\n"
    "target at the observer gives range 0 and elevation NaN.",
    kAerAnnotations};

}  // namespace orbalis::ellipsoid
