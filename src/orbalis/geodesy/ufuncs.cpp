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
#include <array>
#include <cfenv>
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif
#include <cstddef>
#include <numbers>
#include <type_traits>
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

constexpr int kMaxKernelIn = 6;  // kernel inputs, the semi-axes not counted
constexpr int kMaxOut = 3;

// How a ufunc's arguments map onto its kernel's. Kernel input k is caller's input in_src[k]
// times in_scale[k] (pi/180 for an angle in degrees, -1 for the Down of NED read as the Up
// of ENU); caller's output j is kernel output out_src[j] times out_scale[j] (180/pi, or -1),
// and where out_wrap[j] an azimuth in degrees is then brought into [0, 360). The products are
// those the scaling would give as separate array operations, so both give the same bits.
struct Adapter {
    int in_src[kMaxKernelIn];
    double in_scale[kMaxKernelIn];
    int out_src[kMaxOut];
    double out_scale[kMaxOut];
    bool out_wrap[kMaxOut];
};

// An azimuth in [0, 2 pi) times 180/pi lies in [0, 360]; 360, should rounding reach it, is
// the direction 0, and -0 becomes +0 as the remainder modulo 360 gives.
inline double wrap_degrees(double d) noexcept {
    d = d + 0.0;
    return d >= 360.0 ? d - 360.0 : d;
}

// Runs Kernel over the n points of one inner-loop call. Inputs 0..NIN-1 are the kernel's
// arguments, read through the adapter; when Shaped, inputs NIN and NIN+1 are the semi-axes a
// and b. With Obs >= 0, inputs Obs.. are an observer, which the kernel takes as its block:
// (lat0, lon0, h0) as an ObserverBlock for kernels on the ellipsoid, (lat0, lon0) as a
// TrigBlock for the vector rotations.
template <auto Kernel, int NIN, int NOUT, bool Shaped, int Obs = -1>
struct Loop {
    static_assert(NIN <= kMaxKernelIn && NOUT <= kMaxOut);
    static constexpr int kObserverWidth = Obs < 0 ? 0 : (Shaped ? 3 : 2);
    static constexpr int kNumOthers = NIN - kObserverWidth;
    using Observer = std::conditional_t<Shaped, kern::ObserverBlock, kern::TrigBlock>;

    static constexpr bool is_observer(int k) { return k >= Obs && k < Obs + kObserverWidth; }

    // The kernel's inputs that are not the observer's, in order.
    static constexpr std::array<int, kNumOthers> kOthers = [] {
        std::array<int, kNumOthers> others{};
        for (int k = 0, j = 0; k < NIN; ++k) {
            if (!is_observer(k)) others[j++] = k;
        }
        return others;
    }();

    template <std::size_t... I, std::size_t... O>
    static void call(const Shape& sh, const Observer& obs, Lane* in, Lane* out,
                     std::index_sequence<I...>, std::index_sequence<O...>) noexcept {
        if constexpr (Obs >= 0 && Shaped) {
            Kernel(sh, obs, in[kOthers[I]]..., out[O]...);
        } else if constexpr (Obs >= 0) {
            Kernel(obs, in[kOthers[I]]..., out[O]...);
        } else if constexpr (Shaped) {
            Kernel(sh, in[I]..., out[O]...);
        } else {
            Kernel(in[I]..., out[O]...);
        }
    }

    static void make_observer(const Shape& sh, Lane* in, Observer& obs) noexcept {
        if constexpr (Obs >= 0 && Shaped) {
            kern::observer_of(sh, in[Obs], in[Obs + 1], in[Obs + 2], obs);
        } else if constexpr (Obs >= 0) {
            kern::trig_of(in[Obs], in[Obs + 1], obs);
        }
    }

    static void run(char** args, const npy_intp* dims, const npy_intp* steps,
                    const Adapter& ad) noexcept {
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
        // Likewise one observer (on one ellipsoid) for the whole call is read and derived in
        // the first block only: every lane of its block holds the same values.
        bool fixed_observer = Obs >= 0 && !shape_per_point;
        for (int k = Obs; k < Obs + kObserverWidth; ++k) {
            fixed_observer = fixed_observer && steps[ad.in_src[k]] == 0;
        }
        const npy_intp block = shape_per_point ? 1 : kBlock;
        Lane in[NIN], out[NOUT];
        Observer obs;
        for (npy_intp start = 0; start < n; start += block) {
            const int m = static_cast<int>(std::min<npy_intp>(block, n - start));
            const bool new_observer = start == 0 || !fixed_observer;
            if constexpr (Shaped) {
                if (shape_per_point) {
                    sh = kern::make_shape(
                        *reinterpret_cast<const double*>(args[NIN] + start * steps[NIN]),
                        *reinterpret_cast<const double*>(args[NIN + 1] + start * steps[NIN + 1]));
                }
            }
            for (int k = 0; k < NIN; ++k) {
                if (is_observer(k) && !new_observer) continue;
                const int src = ad.in_src[k];
                const double scale = ad.in_scale[k];
                const char* base = args[src] + start * steps[src];
                for (int i = 0; i < m; ++i) {
                    in[k][i] = *reinterpret_cast<const double*>(base + i * steps[src]) * scale;
                }
                // Padding lanes repeat the first point; their results are dropped.
                for (int i = m; i < kBlock; ++i) in[k][i] = in[k][0];
            }
            if (new_observer) make_observer(sh, in, obs);
            call(sh, obs, in, out, std::make_index_sequence<kNumOthers>{},
                 std::make_index_sequence<NOUT>{});
            for (int j = 0; j < NOUT; ++j) {
                const double* result = out[ad.out_src[j]];
                const double scale = ad.out_scale[j];
                const npy_intp step = steps[kOut0 + j];
                char* base = args[kOut0 + j] + start * step;
                if (ad.out_wrap[j]) {
                    for (int i = 0; i < m; ++i) {
                        *reinterpret_cast<double*>(base + i * step) =
                            wrap_degrees(result[i] * scale);
                    }
                } else {
                    for (int i = 0; i < m; ++i) {
                        *reinterpret_cast<double*>(base + i * step) = result[i] * scale;
                    }
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
template <auto Kernel, int NIN, int NOUT, bool Shaped, int Obs = -1>
ORBALIS_LOOP_ATTRS void ufunc_loop(char** args, const npy_intp* dims, const npy_intp* steps,
                                   void* adapter) {
    const FloatingPointFlags flags;
    Loop<Kernel, NIN, NOUT, Shaped, Obs>::run(args, dims, steps,
                                              *static_cast<const Adapter*>(adapter));
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

// Which arguments of a function are read or written in another convention than its kernel's.
enum class Remap {
    none,
    ned_in,   // inputs (n, e, d, ...) are the kernel's (e, n, u, ...) with u = -d
    ned_out,  // the kernel's outputs (e, n, u) are returned as (n, e, d) with d = -u
};

// One function over its kernel. Bit k of angles_in (angles_out, azimuth_out) marks the
// caller's input (output) k as an angle (an azimuth): each function with angles gets a second
// ufunc, named with the suffix _deg, that takes and gives them in degrees.
struct UfuncSpec {
    const char* name;
    const char* deg_name;  // nullptr: no angle, no degree twin
    PyUFuncGenericFunction loop;
    int nin;  // including a and b where the function takes an ellipsoid
    int nout;
    unsigned angles_in, angles_out, azimuth_out;
    Remap remap;
    const char* doc;
    const char* deg_doc;
};

#define ORBALIS_SHAPED(fn, nin, nout) &ufunc_loop<&kern::fn, nin, nout, true>, nin + 2, nout
#define ORBALIS_PLAIN(fn, nin, nout) &ufunc_loop<&fn, nin, nout, false>, nin, nout
// Kernels with an observer from input `obs` on.
#define ORBALIS_SEEN(fn, nin, nout, obs) &ufunc_loop<&kern::fn, nin, nout, true, obs>, nin + 2, nout
#define ORBALIS_ROTATION(fn, nin, nout) &ufunc_loop<&kern::fn, nin, nout, false, 3>, nin, nout
#define ORBALIS_NAMES(name) name, name "_deg"
#define ORBALIS_DEG_DOC(name) \
    name "_deg: " name " with its angles in degrees (azimuths in [0, 360))."

// Masks of the usual arguments: lat, lon first; lat0, lon0 after three coordinates; az, el.
constexpr unsigned kLatLon = 0b11, kObserver = 0b11000, kPointAndObserver = kLatLon | kObserver;
constexpr unsigned kAzEl = 0b11, kAz = 0b1;

const UfuncSpec g_specs[] = {
    {ORBALIS_NAMES("geodetic2ecef"), ORBALIS_SHAPED(geodetic2ecef_block, 3, 3), kLatLon, 0, 0,
     Remap::none,
     "geodetic2ecef(lat, lon, h, a, b) -> (x, y, z): geodetic latitude and longitude (rad)\n"
     "and height (m) on the ellipsoid with semi-axes a >= b to ECEF coordinates (m).",
     ORBALIS_DEG_DOC("geodetic2ecef")},
    {ORBALIS_NAMES("ecef2geodetic"), ORBALIS_SHAPED(ecef2geodetic_block, 3, 3), 0, kLatLon, 0,
     Remap::none,
     "ecef2geodetic(x, y, z, a, b) -> (lat, lon, h): ECEF coordinates (m) to geodetic\n"
     "latitude, longitude (rad, longitude 0 on the polar axis) and height (m). Inside the\n"
     "evolute (near the centre) the nearest of the feet of the normals is taken.",
     ORBALIS_DEG_DOC("ecef2geodetic")},
    {ORBALIS_NAMES("ecef2enu"), ORBALIS_SEEN(ecef2enu_block, 6, 3, 3), kObserver, 0, 0, Remap::none,
     "ecef2enu(x, y, z, lat0, lon0, h0, a, b) -> (e, n, u): ECEF point to East-North-Up\n"
     "offsets (m) from the observer at geodetic (lat0, lon0, h0).",
     ORBALIS_DEG_DOC("ecef2enu")},
    {ORBALIS_NAMES("enu2ecef"), ORBALIS_SEEN(enu2ecef_block, 6, 3, 3), kObserver, 0, 0, Remap::none,
     "enu2ecef(e, n, u, lat0, lon0, h0, a, b) -> (x, y, z): ENU offsets from the observer\n"
     "to ECEF coordinates.",
     ORBALIS_DEG_DOC("enu2ecef")},
    {ORBALIS_NAMES("geodetic2enu"), ORBALIS_SEEN(geodetic2enu_block, 6, 3, 3), kPointAndObserver, 0,
     0, Remap::none, "geodetic2enu(lat, lon, h, lat0, lon0, h0, a, b) -> (e, n, u).",
     ORBALIS_DEG_DOC("geodetic2enu")},
    {ORBALIS_NAMES("enu2geodetic"), ORBALIS_SEEN(enu2geodetic_block, 6, 3, 3), kObserver, kLatLon,
     0, Remap::none, "enu2geodetic(e, n, u, lat0, lon0, h0, a, b) -> (lat, lon, h).",
     ORBALIS_DEG_DOC("enu2geodetic")},
    {ORBALIS_NAMES("ecef2ned"), ORBALIS_SEEN(ecef2enu_block, 6, 3, 3), kObserver, 0, 0,
     Remap::ned_out, "ecef2ned(x, y, z, lat0, lon0, h0, a, b) -> (n, e, d).",
     ORBALIS_DEG_DOC("ecef2ned")},
    {ORBALIS_NAMES("ned2ecef"), ORBALIS_SEEN(enu2ecef_block, 6, 3, 3), kObserver, 0, 0,
     Remap::ned_in, "ned2ecef(n, e, d, lat0, lon0, h0, a, b) -> (x, y, z).",
     ORBALIS_DEG_DOC("ned2ecef")},
    {ORBALIS_NAMES("geodetic2ned"), ORBALIS_SEEN(geodetic2enu_block, 6, 3, 3), kPointAndObserver, 0,
     0, Remap::ned_out, "geodetic2ned(lat, lon, h, lat0, lon0, h0, a, b) -> (n, e, d).",
     ORBALIS_DEG_DOC("geodetic2ned")},
    {ORBALIS_NAMES("ned2geodetic"), ORBALIS_SEEN(enu2geodetic_block, 6, 3, 3), kObserver, kLatLon,
     0, Remap::ned_in, "ned2geodetic(n, e, d, lat0, lon0, h0, a, b) -> (lat, lon, h).",
     ORBALIS_DEG_DOC("ned2geodetic")},
    {ORBALIS_NAMES("ecef2aer"), ORBALIS_SEEN(ecef2aer_block, 6, 3, 3), kObserver, kAzEl, kAz,
     Remap::none,
     "ecef2aer(x, y, z, lat0, lon0, h0, a, b) -> (az, el, range): azimuth in [0, 2 pi)\n"
     "clockwise from north, elevation (rad) and slant range (m) seen by the observer.",
     ORBALIS_DEG_DOC("ecef2aer")},
    {ORBALIS_NAMES("aer2ecef"), ORBALIS_SEEN(aer2ecef_block, 6, 3, 3), kAzEl | kObserver, 0, 0,
     Remap::none, "aer2ecef(az, el, range, lat0, lon0, h0, a, b) -> (x, y, z).",
     ORBALIS_DEG_DOC("aer2ecef")},
    {ORBALIS_NAMES("geodetic2aer"), ORBALIS_SEEN(geodetic2aer_block, 6, 3, 3), kPointAndObserver,
     kAzEl, kAz, Remap::none, "geodetic2aer(lat, lon, h, lat0, lon0, h0, a, b) -> (az, el, range).",
     ORBALIS_DEG_DOC("geodetic2aer")},
    {ORBALIS_NAMES("aer2geodetic"), ORBALIS_SEEN(aer2geodetic_block, 6, 3, 3), kAzEl | kObserver,
     kLatLon, 0, Remap::none, "aer2geodetic(az, el, range, lat0, lon0, h0, a, b) -> (lat, lon, h).",
     ORBALIS_DEG_DOC("aer2geodetic")},
    {ORBALIS_NAMES("lookAtSpheroid"), ORBALIS_SEEN(look_at_spheroid_block, 5, 3, 0), 0b11011,
     kLatLon, 0, Remap::none,
     "lookAtSpheroid(lat0, lon0, h0, az, tilt, a, b) -> (lat, lon, d): first point where\n"
     "the half-line from the observer (tilt from the nadir) meets the ellipsoid; NaN where\n"
     "it misses.",
     ORBALIS_DEG_DOC("lookAtSpheroid")},
    {ORBALIS_NAMES("enu2aer"), ORBALIS_PLAIN(kern::enu2aer_block, 3, 3), 0, kAzEl, kAz, Remap::none,
     "enu2aer(e, n, u) -> (az, el, range): azimuth in [0, 2 pi), elevation (rad), range.",
     ORBALIS_DEG_DOC("enu2aer")},
    {ORBALIS_NAMES("aer2enu"), ORBALIS_PLAIN(kern::aer2enu_block, 3, 3), kAzEl, 0, 0, Remap::none,
     "aer2enu(az, el, range) -> (e, n, u).", ORBALIS_DEG_DOC("aer2enu")},
    {ORBALIS_NAMES("ned2aer"), ORBALIS_PLAIN(kern::enu2aer_block, 3, 3), 0, kAzEl, kAz,
     Remap::ned_in, "ned2aer(n, e, d) -> (az, el, range).", ORBALIS_DEG_DOC("ned2aer")},
    {ORBALIS_NAMES("aer2ned"), ORBALIS_PLAIN(kern::aer2enu_block, 3, 3), kAzEl, 0, 0,
     Remap::ned_out, "aer2ned(az, el, range) -> (n, e, d).", ORBALIS_DEG_DOC("aer2ned")},
    {ORBALIS_NAMES("ecef2enuv"), ORBALIS_ROTATION(ecef2enuv_block, 5, 3), kObserver, 0, 0,
     Remap::none,
     "ecef2enuv(u, v, w, lat0, lon0) -> (e, n, u): rotates an ECEF vector into the ENU frame.",
     ORBALIS_DEG_DOC("ecef2enuv")},
    {ORBALIS_NAMES("enu2ecefv"), ORBALIS_ROTATION(enu2ecefv_block, 5, 3), kObserver, 0, 0,
     Remap::none,
     "enu2ecefv(e, n, u, lat0, lon0) -> (u, v, w): rotates an ENU vector into ECEF axes.",
     ORBALIS_DEG_DOC("enu2ecefv")},
    {"_sin", nullptr, ORBALIS_PLAIN(sin_block, 1, 1), 0, 0, 0, Remap::none,
     "_sin(x): the portable sine of the kernels.", nullptr},
    {"_cos", nullptr, ORBALIS_PLAIN(cos_block, 1, 1), 0, 0, 0, Remap::none,
     "_cos(x): the portable cosine of the kernels.", nullptr},
    {"_atan2", nullptr, ORBALIS_PLAIN(kern::atan2_block, 2, 1), 0, 0, 0, Remap::none,
     "_atan2(y, x): the portable two-argument arctangent of the kernels.", nullptr},
};

constexpr int kMaxArgs = kMaxKernelIn + 2 + kMaxOut;
char g_types[kMaxArgs] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE,
                          NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};
constexpr std::size_t kNumSpecs = sizeof g_specs / sizeof g_specs[0];

// The adapter of a spec's function in radians (degrees = false) or in degrees.
Adapter make_adapter(const UfuncSpec& spec, bool degrees) {
    constexpr double kRadPerDeg = std::numbers::pi / 180.0, kDegPerRad = 180.0 / std::numbers::pi;
    Adapter ad{};
    for (int k = 0; k < kMaxKernelIn; ++k) {
        // ned_in: kernel inputs (e, n, u) are the caller's (e, n, -d) at positions (1, 0, 2).
        const bool swap = spec.remap == Remap::ned_in && k < 2;
        ad.in_src[k] = swap ? 1 - k : k;
        ad.in_scale[k] = spec.remap == Remap::ned_in && k == 2 ? -1.0 : 1.0;
        if (degrees && (spec.angles_in >> ad.in_src[k] & 1u)) ad.in_scale[k] = kRadPerDeg;
    }
    for (int j = 0; j < kMaxOut; ++j) {
        const bool swap = spec.remap == Remap::ned_out && j < 2;
        ad.out_src[j] = swap ? 1 - j : j;
        ad.out_scale[j] = spec.remap == Remap::ned_out && j == 2 ? -1.0 : 1.0;
        if (degrees && (spec.angles_out >> j & 1u)) ad.out_scale[j] = kDegPerRad;
        ad.out_wrap[j] = degrees && (spec.azimuth_out >> j & 1u);
    }
    return ad;
}

// One ufunc of the module: its spec, its name and adapter, and the one-entry loop and data
// arrays that NumPy keeps pointers to.
struct Entry {
    const UfuncSpec* spec;
    const char* name;
    Adapter adapter;
    PyUFuncGenericFunction loops[1];
    void* data[1];
    PyObject* ufunc;  // borrowed from the module, which owns it
};

Entry g_entries[2 * kNumSpecs];
std::size_t g_num_entries = 0;

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
    while (k < g_num_entries && g_entries[k].ufunc != args[0]) ++k;
    if (k == g_num_entries) {
        PyErr_Format(PyExc_TypeError, "point() needs a ufunc of this module, got %R", args[0]);
        return nullptr;
    }
    const Entry& entry = g_entries[k];
    const UfuncSpec& spec = *entry.spec;
    if (nargs - 1 != spec.nin) {
        PyErr_Format(PyExc_TypeError, "%s takes %d numbers, got %zd", entry.name, spec.nin,
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
    spec.loop(pointers, &one, steps, const_cast<Adapter*>(&entry.adapter));
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

// Makes the ufunc of `spec` in radians or in degrees and adds it to the module.
bool add_ufunc(PyObject* module, const UfuncSpec& spec, bool degrees) {
    Entry& entry = g_entries[g_num_entries];
    entry.spec = &spec;
    entry.name = degrees ? spec.deg_name : spec.name;
    entry.adapter = make_adapter(spec, degrees);
    entry.loops[0] = spec.loop;
    entry.data[0] = &entry.adapter;
    Ref ufunc = Ref::steal(PyUFunc_FromFuncAndData(entry.loops, entry.data, g_types, 1, spec.nin,
                                                   spec.nout, PyUFunc_None, entry.name,
                                                   degrees ? spec.deg_doc : spec.doc, 0));
    if (!ufunc || PyModule_AddObjectRef(module, entry.name, ufunc.get()) < 0) return false;
    entry.ufunc = ufunc.get();
    ++g_num_entries;
    return true;
}

}  // namespace

PyMODINIT_FUNC PyInit__ufuncs(void) {
    import_array();
    import_umath();
    Ref module = Ref::steal(PyModule_Create(&g_module));
    if (!module) return nullptr;
    g_num_entries = 0;
    for (const UfuncSpec& spec : g_specs) {
        if (!add_ufunc(module.get(), spec, false)) return nullptr;
        if (spec.deg_name != nullptr && !add_ufunc(module.get(), spec, true)) return nullptr;
    }
    return module.release();
}
