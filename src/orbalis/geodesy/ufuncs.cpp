// The extension module orbalis.geodesy._ufuncs: NumPy ufuncs over the block kernels of
// kernels.hpp, in radians and metres, with the ellipsoid's semi-axes a and b as the last two
// inputs (broadcast like any other input, normally scalars).
//
// Each ufunc has one float64 loop; NumPy casts integer and float32 inputs to it, broadcasts,
// handles out= and the array protocols of other libraries, and runs the loop without the
// interpreter lock (the loop touches no Python object). The loop gathers kBlock points into
// stack arrays, runs the kernel and scatters the results, so the kernels see contiguous lanes
// whatever the strides. On x86-64 each loop is compiled twice (baseline and AVX2) and the
// loader picks the clone; both give the same bits, since the kernels use only correctly
// rounded operations and no contraction.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>
#include <numpy/ufuncobject.h>

#include <algorithm>
#include <cfenv>
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif
#include <cstddef>
#include <utility>

#include "kernels.hpp"
#include "pyref.hpp"

namespace {

using orbalis::geodesy::kBlock;
using orbalis::geodesy::Lane;
using orbalis::geodesy::Shape;
using orbalis::py::Ref;
namespace kern = orbalis::geodesy;

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define ORBALIS_LOOP_ATTRS __attribute__((target_clones("avx2", "default"), flatten))
#else
#define ORBALIS_LOOP_ATTRS __attribute__((flatten))
#endif

// Runs Kernel over the n points of one inner-loop call. Inputs 0..NIN-1 are the kernel's
// arguments; when Shaped, inputs NIN and NIN+1 are the semi-axes a and b.
template <auto Kernel, int NIN, int NOUT, bool Shaped>
struct Loop {
    template <std::size_t... I, std::size_t... O>
    static void call(const Shape& sh, Lane* in, Lane* out, std::index_sequence<I...>,
                     std::index_sequence<O...>) noexcept {
        if constexpr (Shaped) {
            Kernel(sh, in[I]..., out[O]...);
        } else {
            (void)sh;
            Kernel(in[I]..., out[O]...);
        }
    }

    static void run(char** args, const npy_intp* dims, const npy_intp* steps) noexcept {
        const npy_intp n = dims[0];
        constexpr int kOut0 = NIN + (Shaped ? 2 : 0);
        Shape sh{};
        // With one ellipsoid for the whole call (the usual broadcast scalar) its constants are
        // derived once; otherwise point by point, one point a block.
        bool shape_per_point = false;
        if constexpr (Shaped) {
            shape_per_point = steps[NIN] != 0 || steps[NIN + 1] != 0;
            if (!shape_per_point && n > 0) {
                sh = kern::make_shape(*reinterpret_cast<const double*>(args[NIN]),
                                      *reinterpret_cast<const double*>(args[NIN + 1]));
            }
        }
        const npy_intp block = shape_per_point ? 1 : kBlock;
        Lane in[NIN], out[NOUT];
        for (npy_intp start = 0; start < n; start += block) {
            const int m = static_cast<int>(std::min<npy_intp>(block, n - start));
            if constexpr (Shaped) {
                if (shape_per_point) {
                    sh = kern::make_shape(
                        *reinterpret_cast<const double*>(args[NIN] + start * steps[NIN]),
                        *reinterpret_cast<const double*>(args[NIN + 1] + start * steps[NIN + 1]));
                }
            }
            for (int k = 0; k < NIN; ++k) {
                const char* base = args[k] + start * steps[k];
                for (int i = 0; i < m; ++i) {
                    in[k][i] = *reinterpret_cast<const double*>(base + i * steps[k]);
                }
                // Padding lanes repeat the first point; their results are dropped.
                for (int i = m; i < kBlock; ++i) in[k][i] = in[k][0];
            }
            call(sh, in, out, std::make_index_sequence<NIN>{}, std::make_index_sequence<NOUT>{});
            for (int k = 0; k < NOUT; ++k) {
                char* base = args[kOut0 + k] + start * steps[kOut0 + k];
                for (int i = 0; i < m; ++i) {
                    *reinterpret_cast<double*>(base + i * steps[kOut0 + k]) = out[k][i];
                }
            }
        }
    }
};

// Saves the floating-point status flags and restores them on scope exit. On x86-64 the flags
// of SSE arithmetic live in MXCSR, read and written directly (the fenv calls also save the
// x87 environment, which costs a quarter of a microsecond per call).
class FloatingPointFlags {
public:
#if defined(__x86_64__)
    FloatingPointFlags() noexcept : csr_(_mm_getcsr()) {}
    ~FloatingPointFlags() { _mm_setcsr(csr_); }

private:
    unsigned csr_;
#else
    FloatingPointFlags() noexcept { std::fegetexceptflag(&flags_, FE_ALL_EXCEPT); }
    ~FloatingPointFlags() { std::fesetexceptflag(&flags_, FE_ALL_EXCEPT); }

private:
    std::fexcept_t flags_;
#endif
    FloatingPointFlags(const FloatingPointFlags&) = delete;
    FloatingPointFlags& operator=(const FloatingPointFlags&) = delete;
};

// The vector paths compute every lane, also those the scalar fix-ups then replace (a huge
// angle, an infinity), so they may raise floating-point flags that say nothing about the
// results; the caller's flags are restored so that NumPy reports no spurious warnings.
template <auto Kernel, int NIN, int NOUT, bool Shaped>
ORBALIS_LOOP_ATTRS void ufunc_loop(char** args, const npy_intp* dims, const npy_intp* steps,
                                   void*) {
    const FloatingPointFlags flags;
    Loop<Kernel, NIN, NOUT, Shaped>::run(args, dims, steps);
}

// The two trig functions behind the ufuncs, exposed for tests and benchmarks.
inline void sin_block(const double* x, double* out) noexcept {
    Lane c;
    kern::sincos_block(x, out, c);
}
inline void cos_block(const double* x, double* out) noexcept {
    Lane s;
    kern::sincos_block(x, s, out);
}

struct UfuncSpec {
    const char* name;
    PyUFuncGenericFunction loop;
    int nin;  // including a and b where the function takes an ellipsoid
    int nout;
    const char* doc;
};

#define ORBALIS_SHAPED(fn, nin, nout) &ufunc_loop<&kern::fn, nin, nout, true>, nin + 2, nout
#define ORBALIS_PLAIN(fn, nin, nout) &ufunc_loop<&fn, nin, nout, false>, nin, nout

const UfuncSpec g_specs[] = {
    {"geodetic2ecef", ORBALIS_SHAPED(geodetic2ecef_block, 3, 3),
     "geodetic2ecef(lat, lon, h, a, b) -> (x, y, z): geodetic latitude and longitude (rad)\n"
     "and height (m) on the ellipsoid with semi-axes a >= b to ECEF coordinates (m)."},
    {"ecef2geodetic", ORBALIS_SHAPED(ecef2geodetic_block, 3, 3),
     "ecef2geodetic(x, y, z, a, b) -> (lat, lon, h): ECEF coordinates (m) to geodetic\n"
     "latitude, longitude (rad, longitude 0 on the polar axis) and height (m). Inside the\n"
     "evolute (near the centre) the nearest of the feet of the normals is taken."},
    {"ecef2enu", ORBALIS_SHAPED(ecef2enu_block, 6, 3),
     "ecef2enu(x, y, z, lat0, lon0, h0, a, b) -> (e, n, u): ECEF point to East-North-Up\n"
     "offsets (m) from the observer at geodetic (lat0, lon0, h0)."},
    {"enu2ecef", ORBALIS_SHAPED(enu2ecef_block, 6, 3),
     "enu2ecef(e, n, u, lat0, lon0, h0, a, b) -> (x, y, z): ENU offsets from the observer\n"
     "to ECEF coordinates."},
    {"geodetic2enu", ORBALIS_SHAPED(geodetic2enu_block, 6, 3),
     "geodetic2enu(lat, lon, h, lat0, lon0, h0, a, b) -> (e, n, u)."},
    {"enu2geodetic", ORBALIS_SHAPED(enu2geodetic_block, 6, 3),
     "enu2geodetic(e, n, u, lat0, lon0, h0, a, b) -> (lat, lon, h)."},
    {"ecef2aer", ORBALIS_SHAPED(ecef2aer_block, 6, 3),
     "ecef2aer(x, y, z, lat0, lon0, h0, a, b) -> (az, el, range): azimuth in [0, 2 pi)\n"
     "clockwise from north, elevation (rad) and slant range (m) seen by the observer."},
    {"aer2ecef", ORBALIS_SHAPED(aer2ecef_block, 6, 3),
     "aer2ecef(az, el, range, lat0, lon0, h0, a, b) -> (x, y, z)."},
    {"geodetic2aer", ORBALIS_SHAPED(geodetic2aer_block, 6, 3),
     "geodetic2aer(lat, lon, h, lat0, lon0, h0, a, b) -> (az, el, range)."},
    {"aer2geodetic", ORBALIS_SHAPED(aer2geodetic_block, 6, 3),
     "aer2geodetic(az, el, range, lat0, lon0, h0, a, b) -> (lat, lon, h)."},
    {"lookAtSpheroid", ORBALIS_SHAPED(look_at_spheroid_block, 5, 3),
     "lookAtSpheroid(lat0, lon0, h0, az, tilt, a, b) -> (lat, lon, d): first point where\n"
     "the half-line from the observer (tilt from the nadir) meets the ellipsoid; NaN where\n"
     "it misses."},
    {"enu2aer", ORBALIS_PLAIN(kern::enu2aer_block, 3, 3),
     "enu2aer(e, n, u) -> (az, el, range): azimuth in [0, 2 pi), elevation (rad), range."},
    {"aer2enu", ORBALIS_PLAIN(kern::aer2enu_block, 3, 3), "aer2enu(az, el, range) -> (e, n, u)."},
    {"ecef2enuv", ORBALIS_PLAIN(kern::ecef2enuv_block, 5, 3),
     "ecef2enuv(u, v, w, lat0, lon0) -> (e, n, u): rotates an ECEF vector into the ENU frame."},
    {"enu2ecefv", ORBALIS_PLAIN(kern::enu2ecefv_block, 5, 3),
     "enu2ecefv(e, n, u, lat0, lon0) -> (u, v, w): rotates an ENU vector into ECEF axes."},
    {"_sin", ORBALIS_PLAIN(sin_block, 1, 1), "_sin(x): the portable sine of the kernels."},
    {"_cos", ORBALIS_PLAIN(cos_block, 1, 1), "_cos(x): the portable cosine of the kernels."},
    {"_atan2", ORBALIS_PLAIN(kern::atan2_block, 2, 1),
     "_atan2(y, x): the portable two-argument arctangent of the kernels."},
};

constexpr int kMaxArgs = 11;
char g_types[kMaxArgs] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE,
                          NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};
constexpr std::size_t kNumSpecs = sizeof g_specs / sizeof g_specs[0];
PyUFuncGenericFunction g_loops[kNumSpecs];
void* g_data[kNumSpecs];

PyObject* g_ufuncs[kNumSpecs];  // borrowed from the module, which owns them

// point(ufunc, *args) -> tuple of NumPy floats, or None: the ufunc's own loop on one point,
// without the ufunc machinery's per-call cost (microseconds for eight inputs). None means that
// an argument is not a Python float or int (or a subclass such as numpy.float64); the Python
// functions then call the ufunc itself.
PyObject* point(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "point() needs a ufunc of this module");
        return nullptr;
    }
    std::size_t k = 0;
    while (k < kNumSpecs && g_ufuncs[k] != args[0]) ++k;
    if (k == kNumSpecs) {
        PyErr_Format(PyExc_TypeError, "point() needs a ufunc of this module, got %R", args[0]);
        return nullptr;
    }
    const UfuncSpec& spec = g_specs[k];
    if (nargs - 1 != spec.nin) {
        PyErr_Format(PyExc_TypeError, "%s takes %d numbers, got %zd", spec.name, spec.nin,
                     nargs - 1);
        return nullptr;
    }
    for (Py_ssize_t i = 1; i < nargs; ++i) {
        if (!PyFloat_Check(args[i]) && !PyLong_Check(args[i])) Py_RETURN_NONE;
    }
    double values[kMaxArgs];
    char* pointers[kMaxArgs];
    npy_intp steps[kMaxArgs] = {};
    for (int i = 0; i < spec.nin + spec.nout; ++i) {
        if (i < spec.nin) {
            values[i] = PyFloat_AsDouble(args[i + 1]);
            if (values[i] == -1.0 && PyErr_Occurred()) return nullptr;
        }
        pointers[i] = reinterpret_cast<char*>(&values[i]);
    }
    const npy_intp one = 1;
    spec.loop(pointers, &one, steps, nullptr);
    Ref result = Ref::steal(PyTuple_New(spec.nout));
    if (!result) return nullptr;
    for (int j = 0; j < spec.nout; ++j) {
        PyObject* value = PyArrayScalar_New(Double);
        if (!value) return nullptr;
        PyArrayScalar_ASSIGN(value, Double, values[spec.nin + j]);
        PyTuple_SET_ITEM(result.get(), j, value);
    }
    return result.release();
}

PyMethodDef g_methods[] = {
    {"point", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&point)), METH_FASTCALL,
     "point(ufunc, *args) -> tuple | None\n\nThe loop of `ufunc` (one of this module's) on "
     "one point given as Python numbers: the outputs as NumPy floats, or None when an "
     "argument is not a float or an int."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "orbalis.geodesy._ufuncs",
    "NumPy ufuncs of the geodesy kernels (radians, metres; semi-axes a, b as inputs).",
    -1,
    g_methods,
};

}  // namespace

PyMODINIT_FUNC PyInit__ufuncs(void) {
    import_array();
    import_umath();
    Ref module = Ref::steal(PyModule_Create(&g_module));
    if (!module) return nullptr;
    for (std::size_t i = 0; i < kNumSpecs; ++i) {
        const UfuncSpec& spec = g_specs[i];
        g_loops[i] = spec.loop;
        g_data[i] = nullptr;
        Ref ufunc =
            Ref::steal(PyUFunc_FromFuncAndData(&g_loops[i], &g_data[i], g_types, 1, spec.nin,
                                               spec.nout, PyUFunc_None, spec.name, spec.doc, 0));
        if (!ufunc) return nullptr;
        if (PyModule_AddObjectRef(module.get(), spec.name, ufunc.get()) < 0) return nullptr;
        g_ufuncs[i] = ufunc.get();
    }
    return module.release();
}
