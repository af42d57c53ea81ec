// The ten Python-level methods of Ellipsoid, one row each, in the type's method order.
// The latitude pair, the columns-in and the rows-in methods are the templates of
// method_layer.hpp applied to their rows; aer_coords and the ray method have bodies of
// their own, for their batch fast paths, and share the rows and the boundary.
#include "methods.hpp"
#include "method_layer.hpp"

namespace orbalis::ellipsoid {

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
        PyObject* numpy = module_global(g_module_state.numpy_name);
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
        out = Ref::steal(
            PyArray_FROM_OTF(out.get(), NPY_DOUBLE, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ENSURECOPY));
        if (!out) return {};
    }
    data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    return out;
}

namespace {

using K = EllipsoidKernels;
using Self = EllipsoidObject;
constexpr auto kDirect = Calls::direct;

constexpr const char* kScalarOrArray = "double | ndarray[double]";
constexpr const char* kVectors = "ndarray[double]";
constexpr const char* kDouble = "double";

// -- argument names and annotations ------------------------------------------------------------

constexpr const char* kGeodeticLatArgs[] = {"geodetic_lat"};
constexpr const char* kReducedLatArgs[] = {"reduced_lat"};
constexpr const char* kLatLonArgs[] = {"lat", "lon"};
constexpr const char* kLatLonAltArgs[] = {"lat", "lon", "alt"};
constexpr const char* kRSurfArgs[] = {"r_surf"};
constexpr const char* kRArgs[] = {"r"};
constexpr const char* kRayArgs[] = {"r_source", "u_ray"};
constexpr const char* kAerArgs[] = {"r_target", "lat_obs", "lon_obs", "alt_obs"};

constexpr const char* kReducedLatAnnotations[] = {"geodetic_lat", kScalarOrArray, "return",
                                                  kScalarOrArray, nullptr};
constexpr const char* kGeodeticLatAnnotations[] = {"reduced_lat", kScalarOrArray, "return",
                                                   kScalarOrArray, nullptr};
constexpr const char* kEnuAnnotations[] = {"lat",    kScalarOrArray,       "lon",  kScalarOrArray,
                                           "return", "ndarray[ENU_dtype]", nullptr};
constexpr const char* kSurfPosAnnotations[] = {"lat",    kScalarOrArray, "lon",  kScalarOrArray,
                                               "return", kVectors,       nullptr};
constexpr const char* kSurfCoordAnnotations[] = {"r_surf", kVectors, "return",
                                                 "ndarray[SurfCoord_dtype]", nullptr};
constexpr const char* kSolveAnnotations[] = {"r", kVectors, "return", kScalarOrArray, nullptr};
constexpr const char* kLlaAnnotations[] = {"r", kVectors, "return", "ndarray[LLA_dtype]", nullptr};
constexpr const char* kPosAnnotations[] = {"lat",          kScalarOrArray, "lon",
                                           kScalarOrArray, "alt",          kScalarOrArray,
                                           "return",       kVectors,       nullptr};
constexpr const char* kRayAnnotations[] = {"r_source", kVectors, "u_ray", kVectors,
                                           "return",   kVectors, nullptr};
constexpr const char* kAerAnnotations[] = {
    "r_target", kVectors,  "lat_obs", kDouble,  "lon_obs",
    kDouble,    "alt_obs", kDouble,   "return", "ndarray[AER_dtype]",
    nullptr};

// -- the rows ----------------------------------------------------------------------------------
//
// {name, argument names, count, kernel slot, direct kernel, result, record layout,
//  single-vector test by ndim, docstring, annotations}
//
// The kernels that call no other kernel have one form only; their rows name the table's own
// instantiation, so that the direct instantiations keep the single call sites in the kernels
// built on them, where the compiler inlines them.

constexpr MethodRow kReducedLatFromGeodeticLat{
    "reduced_lat_from_geodetic_lat",
    kGeodeticLatArgs,
    1,
    &K::c_reduced_lat_from_geodetic_lat,
    &c_reduced_lat_from_geodetic_lat<Self>,
    Result::floats,
    nullptr,
    false,
    "Ellipsoid.reduced_lat_from_geodetic_lat(self, geodetic_lat: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Reduced (parametric) latitude beta = atan((1 - f) tan(phi)) of geodetic latitudes phi.\n"
    "\n"
    "A real number gives a float; a one-dimensional float64 array gives a float64 array of\n"
    "the same length (any other array raises ValueError). Results lie in [-pi/2, pi/2]:\n"
    "inputs outside (-pi/2, pi/2) are folded by the tangent's period.",
    kReducedLatAnnotations};

constexpr MethodRow kGeodeticLatFromReducedLat{
    "geodetic_lat_from_reduced_lat",
    kReducedLatArgs,
    1,
    &K::c_geodetic_lat_from_reduced_lat,
    &c_geodetic_lat_from_reduced_lat<Self>,
    Result::floats,
    nullptr,
    false,
    "Ellipsoid.geodetic_lat_from_reduced_lat(self, reduced_lat: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Geodetic latitude phi = atan(tan(beta) / (1 - f)) of reduced latitudes beta.\n"
    "\n"
    "A real number gives a float; a one-dimensional float64 array gives a float64 array of\n"
    "the same length (any other array raises ValueError).",
    kGeodeticLatAnnotations};

constexpr MethodRow kEnu{
    "enu",
    kLatLonArgs,
    2,
    &K::c_enu,
    &c_enu<Self, kDirect>,
    Result::records,
    &kENULayout,
    false,
    "Ellipsoid.enu(self, lat: double | ndarray[double], lon: double | ndarray[double]) -> ndarray[ENU_dtype]\n"
    "\n"
    "Local East-North-Up frames at surface points given by geodetic latitude and longitude.\n"
    "\n"
    "Each record holds three unit vectors in the ellipsoid-fixed frame: u_east =\n"
    "(-sin lon, cos lon, 0), u_north along the meridian and u_up along the outward surface\n"
    "normal; they form a right-handed orthonormal basis (east x north = up). Two real numbers\n"
    "give an ENU_dtype array of shape (1,); two one-dimensional arrays of length N give (N,).",
    kEnuAnnotations};

constexpr MethodRow kSurfPosFromSurfCoord{
    "surf_pos_from_surf_coord",
    kLatLonArgs,
    2,
    &K::c_surf_pos_from_surf_coord,
    &c_surf_pos_from_surf_coord<Self, kDirect>,
    Result::vectors,
    nullptr,
    false,
    "Ellipsoid.surf_pos_from_surf_coord(self, lat: double | ndarray[double], lon: double | ndarray[double]) -> ndarray[double]\n"
    "\n"
    "Cartesian position of surface points given by geodetic latitude and longitude.\n"
    "\n"
    "Two real numbers give shape (3,); two one-dimensional arrays of length N give (N, 3).",
    kSurfPosAnnotations};

constexpr MethodRow kSurfCoordFromSurfPos{
    "surf_coord_from_surf_pos",
    kRSurfArgs,
    1,
    &K::c_surf_coord_from_surf_pos,
    &c_surf_coord_from_surf_pos<Self, kDirect>,
    Result::records,
    &kSurfCoordLayout,
    true,
    "Ellipsoid.surf_coord_from_surf_pos(self, r_surf: ndarray[double]) -> ndarray[SurfCoord_dtype]\n"
    "\n"
    "Geodetic latitude and longitude of positions on the surface.\n"
    "\n"
    "Only z fixes the latitude (the position is taken to lie on the surface); |z| above the\n"
    "polar radius gives NaN. A (3,) input gives a (1,) SurfCoord_dtype array, (N, 3) gives (N,).",
    kSurfCoordAnnotations};

constexpr MethodRow kSolveReducedLatEquation{
    "solve_reduced_lat_equation",
    kRArgs,
    1,
    &K::c_solve_reduced_lat_equation,
    &c_solve_reduced_lat_equation<Self>,
    Result::floats,
    nullptr,
    false,
    "Ellipsoid.solve_reduced_lat_equation(self, r: ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Reduced latitude of the foot of the surface normal through positions r (Newton's method).\n"
    "\n"
    "A (3,) input gives a float, (N, 3) a float64 array of shape (N,). The origin, a sphere\n"
    "(f = 0) and points where the iteration cannot settle give NaN.",
    kSolveAnnotations};

constexpr MethodRow kLlaFromPos{
    "lla_from_pos",
    kRArgs,
    1,
    &K::c_lla_from_pos,
    &c_lla_from_pos<Self, kDirect>,
    Result::records,
    &kLLALayout,
    false,
    "Ellipsoid.lla_from_pos(self, r: ndarray[double]) -> ndarray[LLA_dtype]\n"
    "\n"
    "Geodetic latitude, longitude and altitude of Cartesian positions.\n"
    "\n"
    "A (3,) input gives a (1,) LLA_dtype array, (N, 3) gives (N,); fields lat, lon (radians,\n"
    "lon in (-pi, pi]) and alt (unit of Re, negative inside the ellipsoid). Positions on the\n"
    "polar axis get lon 0; the origin gives lat NaN.",
    kLlaAnnotations};

constexpr MethodRow kPosFromLla{
    "pos_from_lla",
    kLatLonAltArgs,
    3,
    &K::c_pos_from_lla,
    &c_pos_from_lla<Self, kDirect>,
    Result::vectors,
    nullptr,
    false,
    "Ellipsoid.pos_from_lla(self, lat: double | ndarray[double], lon: double | ndarray[double], alt: double | ndarray[double]) -> ndarray[double]\n"
    "\n"
    "Cartesian positions of geodetic coordinates (radians, altitude in the unit of Re).\n"
    "\n"
    "Three real numbers give shape (3,); three one-dimensional arrays of length N give (N, 3).",
    kPosAnnotations};

constexpr MethodRow kSurfPosOfRayFirstIntersection{
    "surf_pos_of_ray_first_intersection",
    kRayArgs,
    2,
    &K::c_surf_pos_of_ray_first_intersection,
    &c_surf_pos_of_ray_first_intersection<Self>,
    Result::vectors,
    nullptr,
    true,
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

constexpr MethodRow kAerCoords{
    "aer_coords",
    kAerArgs,
    4,
    &K::c_aer_coords,
    &c_aer_coords<Self>,
    Result::records,
    &kAERLayout,
    true,
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

// -- methods with batch fast paths ---------------------------------------------------------------

// The observer is converted before r_target is looked at, so a non-numeric observer
// raises TypeError whatever r_target is.
PyObject* aer_coords(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* inputs[4];
    if (!bind<kAerCoords>(args, nargs, kwnames, inputs)) return nullptr;
    PyObject* r_target = inputs[0];
    double obs[3];
    if (!read_doubles(inputs + 1, 3, obs)) return nullptr;
    LLA lla_obs{obs[0], obs[1], obs[2]};
    EllipsoidObject* e = as_ellipsoid(self);
    const EllipsoidKernels& kernels = *e->vtab;
    Py_ssize_t n;
    const int single = single_vector_or_rows(r_target, kAerCoords.ndim_first, n);
    if (single < 0) return nullptr;
    char* data;
    if (single) {
        Ref result = new_records(kAERLayout, 1, data);
        double v[3];
        if (!result || !read_vector(r_target, v)) return nullptr;
        kernels.c_aer_coords(e, v, lla_obs, reinterpret_cast<AER*>(data));
        return PyErr_Occurred() ? nullptr : result.release();
    }
    Ref result = new_records(kAERLayout, n, data);
    if (!result) return nullptr;
    auto* records = reinterpret_cast<AER*>(data);
    bool ok;
    if (&kernels == &kKernelTable && n > 0) {
        // The observer's position and frame are the same for every target; with this
        // table's own slots they are computed once, bit for bit as c_aer_coords would.
        // The per-target steps touch no Python object, so no error can become pending.
        double r_obs[3];
        ENU_Frame enu_obs;
        kernels.c_pos_from_lla(e, lla_obs, r_obs);
        if (PyErr_Occurred()) return nullptr;
        kernels.c_enu(e, SurfCoord{lla_obs.lat, lla_obs.lon}, &enu_obs);
        if (PyErr_Occurred()) return nullptr;
        ok = for_each_row<false>(r_target, n, [&](double* v, Py_ssize_t j) {
            aer_from_observer(e, v, r_obs, &enu_obs, records + j);
        });
    } else {
        // A replaced slot sees every call the table's c_aer_coords makes.
        ok = for_each_row(r_target, n, [&](double* v, Py_ssize_t j) {
            kernels.c_aer_coords(e, v, lla_obs, records + j);
        });
    }
    return ok ? result.release() : nullptr;
}

// r_source is checked and read before u_ray is looked at.
PyObject* surf_pos_of_ray_first_intersection(PyObject* self, PyObject* const* args,
                                             Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* inputs[2];
    if (!bind<kSurfPosOfRayFirstIntersection>(args, nargs, kwnames, inputs)) return nullptr;
    PyObject* r_source = inputs[0];
    PyObject* u_ray = inputs[1];
    EllipsoidObject* e = as_ellipsoid(self);
    const auto kernel = e->vtab->c_surf_pos_of_ray_first_intersection;
    if (assertions_enabled() && !check(is_single_vector(r_source))) return nullptr;
    double source[3];
    if (!read_vector(r_source, source)) return nullptr;
    Py_ssize_t n;
    const int single = single_vector_or_rows(u_ray, kSurfPosOfRayFirstIntersection.ndim_first, n);
    if (single < 0) return nullptr;
    if (single) {
        double u[3], r_surf[3];
        if (!read_vector(u_ray, u)) return nullptr;
        kernel(e, source, u, r_surf);
        return PyErr_Occurred() ? nullptr : vector_result(r_surf);
    }
    double* out;
    Ref result;
    bool ok;
    if (kernel == kSurfPosOfRayFirstIntersection.direct) {
        // The module's own kernel: its quotient of f is formed once for the batch, with
        // the same bits, and the rest of it, which touches no Python object, runs per
        // row. It writes every element of every row, so the result needs no zero fill.
        npy_intp dims[2] = {n, 3};
        result = Ref::steal(PyArray_EMPTY(2, dims, NPY_DOUBLE, 0));
        if (!result) return nullptr;
        out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
        const double Re = e->Re, diagGz = ray_diagGz(e->f);
        ok = for_each_row<false>(u_ray, n, [&](double* u, Py_ssize_t j) {
            ray_first_intersection(Re, diagGz, source, u, out + 3 * j);
        });
    } else {
        result = new_doubles(n, 3, out);
        if (!result) return nullptr;
        ok = for_each_row(u_ray, n,
                          [&](double* u, Py_ssize_t j) { kernel(e, source, u, out + 3 * j); });
    }
    return ok ? result.release() : nullptr;
}

}  // namespace

const py::AnnotatedMethodDef kMethodTable[] = {
    define_method<kReducedLatFromGeodeticLat, latitude_method<kReducedLatFromGeodeticLat>>(),
    define_method<kGeodeticLatFromReducedLat, latitude_method<kGeodeticLatFromReducedLat>>(),
    define_method<kEnu, columns_method<kEnu>>(),
    define_method<kSurfPosFromSurfCoord, columns_method<kSurfPosFromSurfCoord>>(),
    define_method<kSurfCoordFromSurfPos, rows_method<kSurfCoordFromSurfPos>>(),
    define_method<kSolveReducedLatEquation, rows_method<kSolveReducedLatEquation>>(),
    define_method<kLlaFromPos, rows_method<kLlaFromPos>>(),
    define_method<kPosFromLla, columns_method<kPosFromLla>>(),
    define_method<kSurfPosOfRayFirstIntersection, surf_pos_of_ray_first_intersection>(),
    define_method<kAerCoords, aer_coords>(),
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace orbalis::ellipsoid
