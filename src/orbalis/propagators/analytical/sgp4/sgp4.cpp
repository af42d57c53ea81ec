// The `SGP4` propagator type and `propagate_catalogue`: Python glue around the model of
// sgp4_model.hpp. An `SGP4` reads the two lines of a `TLE`, parses every element, and
// initialises the model once; propagation returns `StateVector`s in TEME (metres, m/s),
// or the model's own km and km/s with its error numbers. The catalogue function computes
// many satellites times many epochs with the interpreter lock released, spreading the
// satellites over native threads; each satellite is computed by one thread in time order,
// so the bits never depend on the thread count.
#include "pyref.hpp"
#include "sgp4_model.hpp"
#include "tle_elements.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL orbalis_sgp4_ARRAY_API
#include <numpy/arrayobject.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using orbalis::py::Ref;
namespace model = orbalis::sgp4;

constexpr const char* kModuleName = "orbalis.propagators.analytical.sgp4.sgp4";
// Work below this many satellite-epochs runs on the calling thread when threads=None:
// starting threads costs more than it saves.
constexpr Py_ssize_t kThreadingThreshold = 20000;

PyTypeObject* g_sgp4_type = nullptr;
PyObject* g_time_type = nullptr;
PyObject* g_state_vector_type = nullptr;
PyObject* g_str_teme = nullptr;
PyObject* g_str_line1 = nullptr;
PyObject* g_str_line2 = nullptr;
PyObject* g_str_jd1 = nullptr;
PyObject* g_str_jd2 = nullptr;
PyObject* g_str_scale = nullptr;
PyObject* g_str_utc = nullptr;
PyObject* g_kwnames_format = nullptr;  // ("format",)

const char* const kGravityNames[] = {"wgs72old", "wgs72", "wgs84"};

struct SGP4Object {
    PyObject_HEAD
    model::Model model;
    model::TLEFields fields;
    model::GravityModel gravity;
    char opsmode;
    PyObject* epoch;  // owned; the epoch as a Time, built on first read
};

// ---- construction ---------------------------------------------------------------------

// Copies an exact or derived str attribute of the TLE into a stored line.
int read_line(PyObject* tle, PyObject* name, char* buffer) {
    Ref text = Ref::steal(PyObject_GetAttr(tle, name));
    if (!text) return -1;
    if (!PyUnicode_Check(text.get())) {
        PyErr_Format(PyExc_TypeError, "SGP4: tle.%U must be a str, got %.200s", name,
                     Py_TYPE(text.get())->tp_name);
        return -1;
    }
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &n);
    if (!utf8) return -1;
    // the TLE record stores stripped lines; strip again for other line sources
    while (n > 0 && (utf8[n - 1] == ' ' || utf8[n - 1] == '\r' || utf8[n - 1] == '\n')) --n;
    while (n > 0 && *utf8 == ' ') ++utf8, --n;
    if (n > 69) n = 69;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(utf8[i]) >= 0x80 || utf8[i] == '\0') {
            PyErr_Format(PyExc_ValueError, "SGP4: tle.%U holds a character that is not ASCII",
                         name);
            return -1;
        }
    }
    std::memcpy(buffer, utf8, static_cast<size_t>(n));
    buffer[n] = '\0';
    return 0;
}

int parse_choice(PyObject* value, const char* what, const char* const* choices, int count,
                 int& out) {
    if (value && PyUnicode_Check(value)) {
        for (int i = 0; i < count; ++i) {
            if (PyUnicode_CompareWithASCIIString(value, choices[i]) == 0) {
                out = i;
                return 0;
            }
        }
    }
    Ref list = Ref::steal(PyUnicode_FromString(""));
    for (int i = 0; i < count && list; ++i) {
        Ref item = Ref::steal(PyUnicode_FromFormat(i ? ", '%s'" : "'%s'", choices[i]));
        if (!item) return -1;
        list = Ref::steal(PyUnicode_Concat(list.get(), item.get()));
    }
    if (!list) return -1;
    PyErr_Format(PyExc_ValueError, "SGP4: %s must be one of %U, got %R", what, list.get(), value);
    return -1;
}

// Parses, checks and initialises `self` from two stored lines.
int initialise_from_lines(SGP4Object* self, const char* line1, const char* line2) {
    model::FieldError err;
    if (!model::read_tle_fields(line1, line2, self->fields, err)) {
        PyErr_Format(PyExc_ValueError, "SGP4: TLE element %s (line %d, columns %d-%d) %s: got '%s'",
                     err.field->name, err.field->line, err.field->first, err.field->last,
                     err.reason, err.text);
        return -1;
    }
    const model::Elements el = model::elements_of(self->fields);
    const int code = model::initialise(self->model, el, self->gravity, self->opsmode == 'a');
    if (code != model::kOk) {
        Ref value = Ref::steal(PyFloat_FromDouble(self->fields.mean_motion));
        if (!value) return -1;
        PyErr_Format(PyExc_ValueError,
                     "SGP4: TLE element mean_motion (line 2, columns 53-63) is refused by the "
                     "model (error %d): got %R",
                     code, value.get());
        return -1;
    }
    return 0;
}

PyObject* sgp4_create(PyTypeObject* type, PyObject* tle, model::GravityModel gravity,
                      char opsmode) {
    char line1[70], line2[70];
    if (read_line(tle, g_str_line1, line1) < 0 || read_line(tle, g_str_line2, line2) < 0)
        return nullptr;
    Ref obj = Ref::steal(type->tp_alloc(type, 0));
    if (!obj) return nullptr;
    auto* self = reinterpret_cast<SGP4Object*>(obj.get());
    self->gravity = gravity;
    self->opsmode = opsmode;
    self->epoch = nullptr;
    if (initialise_from_lines(self, line1, line2) < 0) return nullptr;
    return obj.release();
}

PyObject* sgp4_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"tle", "gravity", "opsmode"};
    PyObject* a[3];
    if (orbalis::py::bind_arguments("SGP4", args, kwargs, names, 1, 3, a) < 0) return nullptr;
    if (PyTuple_GET_SIZE(args) > 1) {
        PyErr_Format(PyExc_TypeError,
                     "SGP4() takes 1 positional argument (tle); gravity and opsmode are "
                     "keyword-only, got %zd positional arguments",
                     PyTuple_GET_SIZE(args));
        return nullptr;
    }
    int gravity = 1, ops = 0;
    static const char* const opsmodes[] = {"i", "a"};
    if (a[1] && parse_choice(a[1], "gravity", kGravityNames, 3, gravity) < 0) return nullptr;
    if (a[2] && parse_choice(a[2], "opsmode", opsmodes, 2, ops) < 0) return nullptr;
    return sgp4_create(type, a[0], static_cast<model::GravityModel>(gravity), ops ? 'a' : 'i');
}

int sgp4_traverse(PyObject* op, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(reinterpret_cast<SGP4Object*>(op)->epoch);
    return 0;
}

int sgp4_clear(PyObject* op) {
    Py_CLEAR(reinterpret_cast<SGP4Object*>(op)->epoch);
    return 0;
}

void sgp4_dealloc(PyObject* op) {
    PyTypeObject* type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    sgp4_clear(op);
    type->tp_free(op);
    Py_DECREF(type);
}

// ---- attributes -------------------------------------------------------------------------

SGP4Object* as_sgp4(PyObject* op) { return reinterpret_cast<SGP4Object*>(op); }

PyObject* get_epoch(PyObject* op, void*) {
    SGP4Object* self = as_sgp4(op);
    if (!self->epoch) {
        Ref jd1 = Ref::steal(PyFloat_FromDouble(self->fields.epoch_jd1));
        Ref jd2 = Ref::steal(PyFloat_FromDouble(self->fields.epoch_jd2));
        Ref fmt = Ref::steal(PyUnicode_FromString("jd"));
        if (!jd1 || !jd2 || !fmt) return nullptr;
        PyObject* argv[] = {jd1.get(), jd2.get(), fmt.get()};
        PyObject* t = PyObject_Vectorcall(g_time_type, argv, 2, g_kwnames_format);
        if (!t) return nullptr;
        Py_XSETREF(self->epoch, t);
    }
    return Py_NewRef(self->epoch);
}

#define SGP4_DOUBLE_GETTER(name, expr)          \
    PyObject* get_##name(PyObject* op, void*) { \
        const SGP4Object* self = as_sgp4(op);   \
        return PyFloat_FromDouble(expr);        \
    }

SGP4_DOUBLE_GETTER(inclination, self->model.inclo)
SGP4_DOUBLE_GETTER(raan, self->model.nodeo)
SGP4_DOUBLE_GETTER(eccentricity, self->model.ecco)
SGP4_DOUBLE_GETTER(arg_perigee, self->model.argpo)
SGP4_DOUBLE_GETTER(mean_anomaly, self->model.mo)
SGP4_DOUBLE_GETTER(mean_motion, self->fields.mean_motion / (1440.0 / (2.0 * model::kPi)))
SGP4_DOUBLE_GETTER(bstar, self->fields.bstar)
SGP4_DOUBLE_GETTER(ndot, self->fields.ndot)
SGP4_DOUBLE_GETTER(nddot, self->fields.nddot)

PyObject* get_satnum(PyObject* op, void*) { return PyLong_FromLong(as_sgp4(op)->fields.satnum); }
PyObject* get_element_number(PyObject* op, void*) {
    return PyLong_FromLong(as_sgp4(op)->fields.element_number);
}
PyObject* get_rev_number(PyObject* op, void*) {
    return PyLong_FromLong(as_sgp4(op)->fields.rev_number);
}
PyObject* get_classification(PyObject* op, void*) {
    const char c = as_sgp4(op)->fields.classification;
    return PyUnicode_FromStringAndSize(&c, 1);
}
PyObject* get_intldesg(PyObject* op, void*) {
    return PyUnicode_FromString(as_sgp4(op)->fields.intldesg);
}
PyObject* get_is_deep_space(PyObject* op, void*) {
    return PyBool_FromLong(as_sgp4(op)->model.deep);
}
PyObject* get_gravity(PyObject* op, void*) {
    return PyUnicode_FromString(kGravityNames[static_cast<int>(as_sgp4(op)->gravity)]);
}
PyObject* get_opsmode(PyObject* op, void*) {
    const char c = as_sgp4(op)->opsmode;
    return PyUnicode_FromStringAndSize(&c, 1);
}

PyGetSetDef sgp4_getset[] = {
    {"satnum", get_satnum, nullptr, "SGP4.satnum: int (Alpha-5 numbers decoded)", nullptr},
    {"epoch", get_epoch, nullptr, "SGP4.epoch: Time, the exact TLE epoch (UTC)", nullptr},
    {"inclination", get_inclination, nullptr, "SGP4.inclination: float, rad", nullptr},
    {"raan", get_raan, nullptr, "SGP4.raan: float, right ascension of the node, rad", nullptr},
    {"eccentricity", get_eccentricity, nullptr, "SGP4.eccentricity: float", nullptr},
    {"arg_perigee", get_arg_perigee, nullptr, "SGP4.arg_perigee: float, rad", nullptr},
    {"mean_anomaly", get_mean_anomaly, nullptr, "SGP4.mean_anomaly: float, rad", nullptr},
    {"mean_motion", get_mean_motion, nullptr,
     "SGP4.mean_motion: float, rad/min (the TLE's Kozai mean motion)", nullptr},
    {"bstar", get_bstar, nullptr, "SGP4.bstar: float, 1/earth radii, as in the TLE", nullptr},
    {"ndot", get_ndot, nullptr, "SGP4.ndot: float, rev/day^2, as in the TLE", nullptr},
    {"nddot", get_nddot, nullptr, "SGP4.nddot: float, rev/day^3, as in the TLE", nullptr},
    {"classification", get_classification, nullptr, "SGP4.classification: str", nullptr},
    {"intldesg", get_intldesg, nullptr, "SGP4.intldesg: str", nullptr},
    {"element_number", get_element_number, nullptr, "SGP4.element_number: int", nullptr},
    {"rev_number", get_rev_number, nullptr, "SGP4.rev_number: int", nullptr},
    {"is_deep_space", get_is_deep_space, nullptr,
     "SGP4.is_deep_space: bool, period of 225 min or more (SDP4)", nullptr},
    {"gravity", get_gravity, nullptr, "SGP4.gravity: str", nullptr},
    {"opsmode", get_opsmode, nullptr, "SGP4.opsmode: str", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* sgp4_repr(PyObject* op) {
    const SGP4Object* self = as_sgp4(op);
    return PyUnicode_FromFormat("<SGP4 satnum=%ld %s gravity='%s' opsmode='%c'>",
                                self->fields.satnum, self->model.deep ? "SDP4" : "SGP4",
                                kGravityNames[static_cast<int>(self->gravity)], self->opsmode);
}

// ---- propagation ------------------------------------------------------------------------

// Minutes since the epoch of a two-part UTC Julian date.
inline double minutes_since(const model::TLEFields& f, double jd1, double jd2) noexcept {
    return ((jd1 - f.epoch_jd1) + (jd2 - f.epoch_jd2)) * model::kMinPerDay;
}

// One satellite over `n` epochs, metres and m/s, NaN rows where the model fails.
void propagate_rows(const SGP4Object* self, const double* jd1, const double* jd2, Py_ssize_t n,
                    double* r, double* v, npy_uint8* codes) noexcept {
    model::Resonance rs;
    const double nan = std::nan("");
    for (Py_ssize_t i = 0; i < n; ++i) {
        double* ri = r + 3 * i;
        double* vi = v + 3 * i;
        const double t = minutes_since(self->fields, jd1[i], jd2[i]);
        const int code = model::propagate(self->model, t, ri, vi, rs);
        codes[i] = static_cast<npy_uint8>(code);
        if (code != model::kOk) {
            ri[0] = ri[1] = ri[2] = vi[0] = vi[1] = vi[2] = nan;
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            ri[k] = ri[k] * 1000.0;
            vi[k] = vi[k] * 1000.0;
        }
    }
}

// The epochs of `time` (a Time or anything Time accepts) in UTC, as two C-contiguous
// float64 arrays, and the Time object itself.
int utc_parts(PyObject* time, Ref& time_out, Ref& jd1, Ref& jd2) {
    Ref t;
    if (PyObject_TypeCheck(time, reinterpret_cast<PyTypeObject*>(g_time_type)))
        t = Ref::borrow(time);
    else
        t = Ref::steal(PyObject_CallOneArg(g_time_type, time));
    if (!t) return -1;
    Ref scale = Ref::steal(PyObject_GetAttr(t.get(), g_str_scale));
    if (!scale) return -1;
    Ref utc = Ref::borrow(t.get());
    int same = PyObject_RichCompareBool(scale.get(), g_str_utc, Py_EQ);
    if (same < 0) return -1;
    if (!same) {
        utc = Ref::steal(PyObject_GetAttr(t.get(), g_str_utc));
        if (!utc) return -1;
    }
    Ref a = Ref::steal(PyObject_GetAttr(utc.get(), g_str_jd1));
    if (!a) return -1;
    Ref b = Ref::steal(PyObject_GetAttr(utc.get(), g_str_jd2));
    if (!b) return -1;
    jd1 = Ref::steal(PyArray_FROMANY(a.get(), NPY_DOUBLE, 0, 0, NPY_ARRAY_CARRAY_RO));
    if (!jd1) return -1;
    jd2 = Ref::steal(PyArray_FROMANY(b.get(), NPY_DOUBLE, 0, 0, NPY_ARRAY_CARRAY_RO));
    if (!jd2) return -1;
    if (PyArray_SIZE(reinterpret_cast<PyArrayObject*>(jd1.get())) !=
        PyArray_SIZE(reinterpret_cast<PyArrayObject*>(jd2.get()))) {
        PyErr_SetString(PyExc_ValueError, "SGP4: the time's jd1 and jd2 differ in size");
        return -1;
    }
    time_out = std::move(t);
    return 0;
}

const double* data_of(const Ref& a) {
    return static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get())));
}

PyObject* new_array(int nd, const npy_intp* dims, int type) {
    return PyArray_SimpleNew(nd, const_cast<npy_intp*>(dims), type);
}

PyObject* sgp4_propagate(PyObject* op, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"time", "errors"};
    PyObject* a[2];
    if (orbalis::py::bind_arguments("propagate", args, nargs, kwnames, names, 1, 2, a) < 0)
        return nullptr;
    if (nargs > 1) {
        PyErr_SetString(PyExc_TypeError,
                        "propagate() takes 1 positional argument (time); errors is keyword-only");
        return nullptr;
    }
    int errors = 0;
    if (a[1] && (errors = PyObject_IsTrue(a[1])) < 0) return nullptr;
    Ref time, jd1, jd2;
    if (utc_parts(a[0], time, jd1, jd2) < 0) return nullptr;
    const npy_intp n = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(jd1.get()));
    const npy_intp dims[2] = {n, 3};
    Ref r = Ref::steal(new_array(2, dims, NPY_DOUBLE));
    Ref v = Ref::steal(new_array(2, dims, NPY_DOUBLE));
    Ref codes = Ref::steal(new_array(1, dims, NPY_UINT8));
    if (!r || !v || !codes) return nullptr;
    auto* rp = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(r.get())));
    auto* vp = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v.get())));
    auto* cp = static_cast<npy_uint8*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(codes.get())));
    const SGP4Object* self = as_sgp4(op);
    if (n > 4096) {
        Py_BEGIN_ALLOW_THREADS propagate_rows(self, data_of(jd1), data_of(jd2), n, rp, vp, cp);
        Py_END_ALLOW_THREADS
    } else {
        propagate_rows(self, data_of(jd1), data_of(jd2), n, rp, vp, cp);
    }
    PyObject* argv[] = {time.get(), r.get(), v.get(), g_str_teme};
    Ref sv = Ref::steal(PyObject_Vectorcall(g_state_vector_type, argv, 4, nullptr));
    if (!sv) return nullptr;
    if (!errors) return sv.release();
    return PyTuple_Pack(2, sv.get(), codes.get());
}

PyObject* sgp4_propagate_minutes(PyObject* op, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    static const char* const names[] = {"tsince"};
    PyObject* a[1];
    if (orbalis::py::bind_arguments("propagate_minutes", args, nargs, kwnames, names, 1, 1, a) < 0)
        return nullptr;
    Ref t = Ref::steal(PyArray_FROMANY(a[0], NPY_DOUBLE, 0, 0, NPY_ARRAY_CARRAY_RO));
    if (!t) return nullptr;
    auto* ta = reinterpret_cast<PyArrayObject*>(t.get());
    const int nd = PyArray_NDIM(ta);
    if (nd > 30) {
        PyErr_SetString(PyExc_ValueError, "propagate_minutes: tsince has too many dimensions");
        return nullptr;
    }
    npy_intp dims[32];
    std::copy(PyArray_DIMS(ta), PyArray_DIMS(ta) + nd, dims);
    dims[nd] = 3;
    Ref r = Ref::steal(new_array(nd + 1, dims, NPY_DOUBLE));
    Ref v = Ref::steal(new_array(nd + 1, dims, NPY_DOUBLE));
    Ref codes = Ref::steal(new_array(nd, dims, NPY_UINT8));
    if (!r || !v || !codes) return nullptr;
    const npy_intp n = PyArray_SIZE(ta);
    const double* tp = static_cast<const double*>(PyArray_DATA(ta));
    auto* rp = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(r.get())));
    auto* vp = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v.get())));
    auto* cp = static_cast<npy_uint8*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(codes.get())));
    const SGP4Object* self = as_sgp4(op);
    model::Resonance rs;
    for (npy_intp i = 0; i < n; ++i)
        cp[i] = static_cast<npy_uint8>(
            model::propagate(self->model, tp[i], rp + 3 * i, vp + 3 * i, rs));
    if (nd == 0) {
        Ref code = Ref::steal(PyLong_FromLong(cp[0]));
        if (!code) return nullptr;
        return PyTuple_Pack(3, r.get(), v.get(), code.get());
    }
    return PyTuple_Pack(3, r.get(), v.get(), codes.get());
}

constexpr const char* kPropagateDoc =
    "SGP4.propagate(self, time: Time, *, errors: bool = False) -> StateVector\n"
    "\n"
    "The state at each epoch of `time` (a Time holding one epoch or many, or anything Time\n"
    "accepts; other scales are converted to UTC) as a StateVector in the TEME frame:\n"
    "positions in metres, velocities in m/s, one row per epoch. Rows where the model fails\n"
    "(and NaN epochs) are NaN. With errors=True returns (state_vector, codes), codes a uint8\n"
    "array: 0 success, 1 mean eccentricity out of range, 2 mean motion below zero, 3\n"
    "perturbed eccentricity out of range, 4 semi-latus rectum below zero, 6 decayed.";

constexpr const char* kMinutesDoc =
    "SGP4.propagate_minutes(self, tsince: float | ndarray[double]) -> tuple[ndarray, "
    "ndarray, ndarray]\n"
    "\n"
    "The model's own interface: (r, v, codes) at `tsince` minutes since epoch, in km and\n"
    "km/s in TEME, r and v of shape tsince.shape + (3,). codes are the model's error numbers\n"
    "(an int for a float tsince); for codes 1 to 4 r and v are NaN, for 6 (decayed) they\n"
    "hold the state the model computed. A NaN or infinite tsince, or a resonant (12 h or\n"
    "24 h) orbit more than 1e8 minutes from epoch, gives code 1.";

// ---- catalogue ----------------------------------------------------------------------------

struct CatalogueJob {
    const std::vector<const SGP4Object*>* sats;
    const double* jd1;
    const double* jd2;
    Py_ssize_t nt;
    double* r;
    double* v;
    npy_uint8* codes;

    void run(size_t first, size_t last) const noexcept {
        for (size_t s = first; s < last; ++s) {
            const size_t off = s * static_cast<size_t>(nt);
            propagate_rows((*sats)[s], jd1, jd2, nt, r + 3 * off, v + 3 * off, codes + off);
        }
    }
};

// Runs the job on `nthreads` threads, satellites split in contiguous blocks. A thread that
// cannot be started leaves its block to the calling thread.
void run_catalogue(const CatalogueJob& job, size_t nsat, size_t nthreads) noexcept {
    if (nthreads <= 1 || nsat <= 1) {
        job.run(0, nsat);
        return;
    }
    std::vector<std::thread> workers;
    std::vector<std::pair<size_t, size_t>> left;
    try {
        workers.reserve(nthreads - 1);
    } catch (...) {
        job.run(0, nsat);
        return;
    }
    const size_t base = nsat / nthreads, extra = nsat % nthreads;
    size_t first = 0;
    size_t own_first = 0, own_last = 0;
    for (size_t k = 0; k < nthreads; ++k) {
        const size_t last = first + base + (k < extra ? 1 : 0);
        if (k == 0) {
            own_first = first;
            own_last = last;
        } else {
            try {
                workers.emplace_back([&job, first, last] { job.run(first, last); });
            } catch (...) {
                job.run(first, last);
            }
        }
        first = last;
    }
    job.run(own_first, own_last);
    for (auto& w : workers) w.join();
}

PyObject* propagate_catalogue(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    static const char* const names[] = {"sources", "time", "threads"};
    PyObject* a[3];
    if (orbalis::py::bind_arguments("propagate_catalogue", args, nargs, kwnames, names, 2, 3, a) <
        0)
        return nullptr;
    if (nargs > 2) {
        PyErr_SetString(PyExc_TypeError,
                        "propagate_catalogue() takes 2 positional arguments (sources, time); "
                        "threads is keyword-only");
        return nullptr;
    }
    Py_ssize_t threads = 0;  // 0: choose
    if (a[2] && a[2] != Py_None) {
        if (!PyLong_Check(a[2]) || PyBool_Check(a[2])) {
            PyErr_Format(PyExc_TypeError,
                         "propagate_catalogue: threads must be None or a positive int, got "
                         "%.200s",
                         Py_TYPE(a[2])->tp_name);
            return nullptr;
        }
        threads = PyLong_AsSsize_t(a[2]);
        if (threads == -1 && PyErr_Occurred()) return nullptr;
        if (threads < 1) {
            PyErr_Format(PyExc_ValueError,
                         "propagate_catalogue: threads must be None or a positive int, got %zd",
                         threads);
            return nullptr;
        }
    }
    if (PyUnicode_Check(a[0]) || PyBytes_Check(a[0])) {
        PyErr_SetString(PyExc_TypeError,
                        "propagate_catalogue: sources must be a sequence of TLE or SGP4 "
                        "objects, got a str");
        return nullptr;
    }
    Ref seq = Ref::steal(PySequence_Fast(
        a[0], "propagate_catalogue: sources must be a sequence of TLE or SGP4 objects"));
    if (!seq) return nullptr;
    const Py_ssize_t ns = PySequence_Fast_GET_SIZE(seq.get());
    std::vector<Ref> owned;
    std::vector<const SGP4Object*> sats;
    try {
        owned.reserve(static_cast<size_t>(ns));
        sats.reserve(static_cast<size_t>(ns));
    } catch (...) {
        return PyErr_NoMemory();
    }
    for (Py_ssize_t i = 0; i < ns; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        Ref sat;
        if (PyObject_TypeCheck(item, g_sgp4_type)) {
            sat = Ref::borrow(item);
        } else if (PyObject_HasAttr(item, g_str_line1) && PyObject_HasAttr(item, g_str_line2)) {
            sat = Ref::steal(sgp4_create(g_sgp4_type, item, model::GravityModel::wgs72, 'i'));
            if (!sat) {
                // name the source that was refused
                if (PyErr_ExceptionMatches(PyExc_ValueError)) {
                    PyObject *type, *value, *tb;
                    PyErr_Fetch(&type, &value, &tb);
                    PyErr_NormalizeException(&type, &value, &tb);
                    Ref t = Ref::steal(type), val = Ref::steal(value), trace = Ref::steal(tb);
                    PyErr_Format(PyExc_ValueError, "propagate_catalogue: sources[%zd]: %S", i,
                                 val.get());
                }
                return nullptr;
            }
        } else {
            PyErr_Format(PyExc_TypeError,
                         "propagate_catalogue: sources[%zd] must be a TLE or an SGP4, got %.200s",
                         i, Py_TYPE(item)->tp_name);
            return nullptr;
        }
        sats.push_back(as_sgp4(sat.get()));
        owned.push_back(std::move(sat));
    }
    Ref time, jd1, jd2;
    if (utc_parts(a[1], time, jd1, jd2) < 0) return nullptr;
    const npy_intp nt = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(jd1.get()));
    const npy_intp dims[3] = {ns, nt, 3};
    Ref r = Ref::steal(new_array(3, dims, NPY_DOUBLE));
    Ref v = Ref::steal(new_array(3, dims, NPY_DOUBLE));
    Ref codes = Ref::steal(new_array(2, dims, NPY_UINT8));
    if (!r || !v || !codes) return nullptr;
    CatalogueJob job{
        &sats,
        data_of(jd1),
        data_of(jd2),
        nt,
        static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(r.get()))),
        static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v.get()))),
        static_cast<npy_uint8*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(codes.get())))};
    size_t nthreads = static_cast<size_t>(threads);
    if (threads == 0) {
        const unsigned hw = std::thread::hardware_concurrency();
        nthreads = (ns * nt >= kThreadingThreshold && hw > 1) ? hw : 1;
    }
    nthreads = std::min(nthreads, static_cast<size_t>(std::max<Py_ssize_t>(ns, 1)));
    Py_BEGIN_ALLOW_THREADS run_catalogue(job, static_cast<size_t>(ns), nthreads);
    Py_END_ALLOW_THREADS return PyTuple_Pack(3, r.get(), v.get(), codes.get());
}

PyMethodDef sgp4_methods[] = {
    {"propagate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sgp4_propagate)),
     METH_FASTCALL | METH_KEYWORDS, kPropagateDoc},
    {"propagate_minutes",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sgp4_propagate_minutes)),
     METH_FASTCALL | METH_KEYWORDS, kMinutesDoc},
    orbalis::py::kRefuseReduce,
    orbalis::py::kRefuseSetstate,
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char* kSGP4Doc =
    "SGP4(tle, *, gravity=\"wgs72\", opsmode=\"i\")\n"
    "\n"
    "The SGP4/SDP4 orbit model initialised from a TLE (anything with str attributes line1\n"
    "and line2). Every element is read at the columns of the two-line format; a malformed\n"
    "or refused element raises ValueError naming it, its columns and its value. gravity is\n"
    "\"wgs72\" (the model's own), \"wgs72old\" or \"wgs84\"; opsmode \"i\" (improved) or \"a\"\n"
    "(the older operational sidereal time and node handling). Near-earth orbits use SGP4,\n"
    "orbits of 225 min or longer SDP4 with lunar-solar terms and the 12 h and 24 h\n"
    "resonances.";

PyType_Slot sgp4_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(sgp4_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(sgp4_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(sgp4_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(sgp4_clear)},
    {Py_tp_getset, sgp4_getset},
    {Py_tp_methods, sgp4_methods},
    {Py_tp_repr, reinterpret_cast<void*>(sgp4_repr)},
    {Py_tp_doc, const_cast<char*>(kSGP4Doc)},
    {0, nullptr},
};

PyType_Spec sgp4_spec = {
    "orbalis.propagators.analytical.sgp4.sgp4.SGP4",
    sizeof(SGP4Object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    sgp4_slots,
};

constexpr const char* kCatalogueDoc =
    "propagate_catalogue(sources, time, *, threads=None) -> tuple[ndarray, ndarray, ndarray]\n"
    "\n"
    "Propagates every source (a sequence of TLE or SGP4 objects; a TLE is read with the\n"
    "default gravity and opsmode) to every epoch of `time`. Returns (r, v, codes): r and v\n"
    "float64 of shape (S, T, 3) in TEME, metres and m/s, NaN where the model fails; codes\n"
    "uint8 of shape (S, T) with the model's error numbers. The interpreter lock is released\n"
    "while it computes; `threads` native threads share the satellites (None: all cores for\n"
    "large work, one thread for small). The result is bit-identical for every thread count.";

PyMethodDef module_methods[] = {
    {"propagate_catalogue",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(propagate_catalogue)),
     METH_FASTCALL | METH_KEYWORDS, kCatalogueDoc},
    {nullptr, nullptr, 0, nullptr},
};

int sgp4_exec(PyObject* module) {
    if (_import_array() < 0) return -1;
    Ref time_type = orbalis::py::import_attr("orbalis.time.time", "Time");
    if (!time_type) return -1;
    Ref sv_type = orbalis::py::import_attr("orbalis.satellite.satellite", "StateVector");
    if (!sv_type) return -1;
    Ref type = Ref::steal(PyType_FromModuleAndSpec(module, &sgp4_spec, nullptr));
    if (!type) return -1;
    if (PyModule_AddObjectRef(module, "SGP4", type.get()) < 0) return -1;
    struct {
        PyObject** slot;
        const char* text;
    } strings[] = {{&g_str_teme, "TEME"}, {&g_str_line1, "line1"}, {&g_str_line2, "line2"},
                   {&g_str_jd1, "jd1"},   {&g_str_jd2, "jd2"},     {&g_str_scale, "scale"},
                   {&g_str_utc, "utc"}};
    for (auto& s : strings) {
        *s.slot = PyUnicode_InternFromString(s.text);
        if (!*s.slot) return -1;
    }
    Ref fmt = Ref::steal(PyUnicode_InternFromString("format"));
    if (!fmt) return -1;
    g_kwnames_format = PyTuple_Pack(1, fmt.get());
    if (!g_kwnames_format) return -1;
    g_sgp4_type = reinterpret_cast<PyTypeObject*>(Py_NewRef(type.get()));
    g_time_type = time_type.release();
    g_state_vector_type = sv_type.release();
    return 0;
}

}  // namespace

PyMODINIT_FUNC PyInit_sgp4() {
    return orbalis::py::init_module<sgp4_exec>(
        kModuleName, "The SGP4/SDP4 propagator: the SGP4 type and propagate_catalogue.",
        module_methods);
}
