// The `TLE` record: the two text lines of a Two-Line Element set, kept in fixed inline
// buffers, with the satellite number and the epoch read from line 1 once, when the record
// is built. Line 2 is stored but never read; checksums and line numbers are not checked
// and no orbital element is computed. The epoch is a `orbalis.time.time.Time`, built from
// the two-digit year and the day-of-year fields of line 1; both fields are converted as the
// C library does in the "C" locale, whatever locale the process has set. The epoch is the
// two-part Julian date (year start - 1 + whole days, fraction of the day), so it holds the
// instant the field's digits denote to about 1e-11 s (tle_epoch.hpp).
#include "pyref.hpp"
#include "tle_epoch.hpp"

#include <structmember.h>

#include <locale.h>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using orbalis::py::Ref;

constexpr const char* kQualifiedType = "orbalis.propagators.analytical.sgp4.tle.TLE";
constexpr const char* kSourceFile = "orbalis/propagators/analytical/sgp4/tle.cpp";

// A stored line holds at most this many characters; the buffer adds a NUL.
constexpr Py_ssize_t kLineChars = 69;
constexpr Py_ssize_t kLineBuffer = kLineChars + 1;
constexpr Py_ssize_t kSatnoChars = 5;

struct TLEObject;

// The native-level operations of `TLE` that a native subtype may replace. A table on the
// type, reached from each instance, keeps the call indirect without a Python lookup.
struct TLEVTable {
    int (*parse_line1)(TLEObject* self);
};

struct TLEObject {
    PyObject_HEAD
    const TLEVTable* vtab;
    char _line1[kLineBuffer];
    char _line2[kLineBuffer];
    char _satno[kSatnoChars + 1];
    PyObject* epoch;        // owned; None until construction succeeds
    int strict_validation;  // accepted by the constructor, reserved for stricter checks
};

// Bound once when the module initialises and kept for the life of the process (the module
// refuses a second initialisation, so these are never rebound).
PyTypeObject* g_tle_type = nullptr;
PyObject* g_time_type = nullptr;
PyObject* g_str_jd = nullptr;
PyObject* g_str_strip = nullptr;
PyObject* g_str_upper = nullptr;
PyObject* g_kwnames_format = nullptr;  // ("format",)
// Time._from_normalised (a bound classmethod) when the bound Time type offers that fast
// path for an already split Julian date; NULL otherwise, and the public constructor is used.
PyObject* g_time_from_normalised = nullptr;
locale_t g_c_locale = static_cast<locale_t>(nullptr);

// Two-digit years cover 1957 to 2056 (a field of "-9" gives 1991).
constexpr long kFirstYear = 1957;
constexpr long kYears = 100;
// The Julian date of 00:00 on 1 January of each year, read once from Time(year text): TLE
// catalogues ask for the same few years over and over. NaN until first asked; only ever
// written under the interpreter lock. Reading it again would give the same value, so this
// cache is the module's only mutable state and changes no result.
double g_year_start_jd[kYears];

// Python's `str.strip()` on ASCII text removes exactly these characters.
constexpr bool is_ascii_space(unsigned char c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
}

// Copies `text[0..length)` into `buffer` as a stored line: at most 69 bytes, stopping at a
// NUL, the rest of the buffer NUL. `upper` maps a-z to A-Z on the way.
void copy_line(const char* text, Py_ssize_t length, bool upper, char* buffer) noexcept {
    Py_ssize_t n = 0;
    for (; n < length && n < kLineChars && text[n] != '\0'; ++n) {
        char c = text[n];
        buffer[n] = (upper && c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
    }
    std::memset(buffer + n, 0, static_cast<size_t>(kLineBuffer - n));
}

// Stores `line` (an exact str) stripped, upper-cased and ASCII-encoded. Pure-ASCII text,
// the usual case, is handled here in one pass; anything else goes through the str methods
// themselves, because upper-casing may turn a non-ASCII character into ASCII ones (U+0131
// becomes "I") and whitespace outside ASCII is stripped too.
int store_line(PyObject* line, char* buffer) noexcept {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(line) < 0) return -1;
#endif
    if (PyUnicode_IS_ASCII(line)) {
        const char* text = reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(line));
        Py_ssize_t begin = 0, end = PyUnicode_GET_LENGTH(line);
        while (begin < end && is_ascii_space(static_cast<unsigned char>(text[begin]))) ++begin;
        while (end > begin && is_ascii_space(static_cast<unsigned char>(text[end - 1]))) --end;
        copy_line(text + begin, end - begin, true, buffer);
        return 0;
    }
    Ref stripped = Ref::steal(PyObject_CallMethodNoArgs(line, g_str_strip));
    if (!stripped) return -1;
    Ref upper = Ref::steal(PyObject_CallMethodNoArgs(stripped.get(), g_str_upper));
    if (!upper) return -1;
    Ref encoded = Ref::steal(PyUnicode_AsASCIIString(upper.get()));
    if (!encoded) return -1;
    copy_line(PyBytes_AS_STRING(encoded.get()), PyBytes_GET_SIZE(encoded.get()), false, buffer);
    return 0;
}

// Copies `width` characters of line 1 from `pos` into `field` and terminates it. Past the
// end of a short line the buffer holds only NUL bytes, so such a field reads as empty.
void read_field(const TLEObject* self, Py_ssize_t pos, Py_ssize_t width, char* field) noexcept {
    std::memcpy(field, self->_line1 + pos, static_cast<size_t>(width));
    field[width] = '\0';
}

// The Julian date of 00:00 on 1 January of `year`: Time(year text).jd, as a double.
int year_start_jd(long year, double* jd) {
    double* cached = (year >= kFirstYear && year < kFirstYear + kYears)
                         ? &g_year_start_jd[year - kFirstYear]
                         : nullptr;
    if (cached && !std::isnan(*cached)) {
        *jd = *cached;
        return 0;
    }
    char year_text[24];
    int length = std::snprintf(year_text, sizeof year_text, "%ld", year);
    Ref year_str = Ref::steal(PyUnicode_DecodeASCII(year_text, length, nullptr));
    if (!year_str) return -1;
    PyObject* argv[2] = {nullptr, year_str.get()};
    Ref start = Ref::steal(
        PyObject_Vectorcall(g_time_type, argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!start) return -1;
    Ref start_jd = Ref::steal(PyObject_GetAttr(start.get(), g_str_jd));
    if (!start_jd) return -1;
    double value = PyFloat_AsDouble(start_jd.get());
    if (value == -1.0 && PyErr_Occurred()) return -1;
    if (cached) *cached = value;
    *jd = value;
    return 0;
}

// A Time for the Julian date whole + fraction (days). Sane dates are split here and handed
// to Time._from_normalised; anything else (a non-finite or huge day field, or a Time type
// without the fast path) goes through Time(whole, fraction, format="jd"), which also
// raises for the dates it refuses.
PyObject* make_epoch(double whole, double fraction) {
    bool fast = g_time_from_normalised && std::isfinite(whole) && std::isfinite(fraction) &&
                std::fabs(whole) < 1e15;
    double first = whole, second = fraction;
    if (fast) orbalis::tle::split_julian_date(whole, fraction, &first, &second);
    Ref part1 = Ref::steal(PyFloat_FromDouble(first));
    if (!part1) return nullptr;
    Ref part2 = Ref::steal(PyFloat_FromDouble(second));
    if (!part2) return nullptr;
    PyObject* args[4] = {nullptr, part1.get(), part2.get(), g_str_jd};
    if (fast)
        return PyObject_Vectorcall(g_time_from_normalised, args + 1,
                                   2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    return PyObject_Vectorcall(g_time_type, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                               g_kwnames_format);
}

// Fills `_satno` and `epoch` from the stored line 1. Returns -1 with an exception set when
// building the epoch fails.
int tle_parse_line1(TLEObject* self) {
    read_field(self, 2, kSatnoChars, self->_satno);

    char year_field[3];
    char day_field[13];
    read_field(self, 18, 2, year_field);
    read_field(self, 20, 12, day_field);
    // The "C" locale fixes the decimal point to '.', so the fields read the same in a
    // program that has set, say, a comma-decimal LC_NUMERIC.
    long yy = strtol_l(year_field, nullptr, 10, g_c_locale);
    orbalis::tle::DaySplit day = orbalis::tle::split_day_field(day_field, g_c_locale);
    // Two-digit years start with the first satellite: 57 to 99 are 1957 to 1999.
    long year = yy <= 56 ? 2000 + yy : 1900 + yy;

    double start;
    if (year_start_jd(year, &start) < 0) return -1;
    // Day 1.0 is 00:00 on 1 January. Exact for every plain field: a half-integer near 2.4e6
    // plus a whole number of days below 10^12 needs fewer than 53 bits.
    double whole = (start - 1.0) + day.whole;
    PyObject* epoch = make_epoch(whole, day.fraction);
    if (!epoch) return -1;
    PyObject* old = self->epoch;
    self->epoch = epoch;
    Py_XDECREF(old);
    return 0;
}

constexpr TLEVTable kTLEVTable = {tle_parse_line1};

constexpr const char* const kArgumentNames[] = {"line1", "line2", "strict_validation"};

// Construction once the arguments are bound (`strict_validation` may be NULL).
PyObject* tle_construct(PyTypeObject* type, PyObject* const* bound) {
    // The flag is taken for its truth value only; a failing truth test still fails the call.
    if (bound[2] && PyObject_IsTrue(bound[2]) < 0) return nullptr;
    for (int i = 0; i < 2; ++i) {
        if (!PyUnicode_CheckExact(bound[i])) {
            PyErr_Format(PyExc_TypeError, "TLE() argument '%s' must be str, not %.200s",
                         kArgumentNames[i], Py_TYPE(bound[i])->tp_name);
            return nullptr;
        }
    }

    Ref self_ref = Ref::steal(type->tp_alloc(type, 0));
    if (!self_ref) return nullptr;
    auto* self = reinterpret_cast<TLEObject*>(self_ref.get());
    self->vtab = &kTLEVTable;
    self->epoch = Py_NewRef(Py_None);

    if (store_line(bound[0], self->_line1) < 0 || store_line(bound[1], self->_line2) < 0)
        return nullptr;
    if (self->vtab->parse_line1(self) < 0) {
        orbalis::py::add_traceback("orbalis.propagators.analytical.sgp4.tle.TLE.parse_line1",
                                   kSourceFile);
        return nullptr;
    }
    return self_ref.release();
}

PyObject* tle_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[3];
    if (orbalis::py::bind_arguments("TLE", args, kwargs, kArgumentNames, 2, 3, bound) < 0)
        return nullptr;
    return tle_construct(type, bound);
}

// `TLE(...)` without the argument tuple and dict of the generic type call; the generic
// path would also call object.__init__, which does nothing here. Only the exact type takes
// this path: a subclass may define __new__ or __init__ of its own.
PyObject* tle_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                         PyObject* kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    auto* type = reinterpret_cast<PyTypeObject*>(callable);
    if (type != g_tle_type) {
        Ref tuple = Ref::steal(PyTuple_New(nargs));
        if (!tuple) return nullptr;
        for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
        Ref kwargs;
        Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
        if (nkw > 0) {
            kwargs = Ref::steal(PyDict_New());
            if (!kwargs) return nullptr;
            for (Py_ssize_t k = 0; k < nkw; ++k)
                if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0)
                    return nullptr;
        }
        return PyType_Type.tp_call(callable, tuple.get(), kwargs.get());
    }
    PyObject* bound[3];
    if (orbalis::py::bind_arguments("TLE", args, nargs, kwnames, kArgumentNames, 2, 3, bound) < 0)
        return nullptr;
    return tle_construct(type, bound);
}

int tle_traverse(PyObject* op, visitproc visit, void* arg) {
    // Instances of a heap type keep their type alive.
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(reinterpret_cast<TLEObject*>(op)->epoch);
    return 0;
}

int tle_clear(PyObject* op) {
    auto* self = reinterpret_cast<TLEObject*>(op);
    PyObject* old = self->epoch;
    self->epoch = Py_NewRef(Py_None);
    Py_XDECREF(old);
    return 0;
}

void tle_dealloc(PyObject* op) {
    PyTypeObject* type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    Py_CLEAR(reinterpret_cast<TLEObject*>(op)->epoch);
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* decode_stored(const char* buffer, Py_ssize_t capacity) {
    return PyUnicode_DecodeASCII(buffer, static_cast<Py_ssize_t>(strnlen(buffer, capacity)),
                                 nullptr);
}

PyObject* tle_get_line1(PyObject* op, void*) {
    return decode_stored(reinterpret_cast<TLEObject*>(op)->_line1, kLineBuffer);
}

PyObject* tle_get_line2(PyObject* op, void*) {
    return decode_stored(reinterpret_cast<TLEObject*>(op)->_line2, kLineBuffer);
}

// The satellite number as an int when the stripped field is an integer literal for `int()`
// (leading zeros, sign and underscores included), else the stripped text, so Alpha-5
// numbers such as "A1234" stay text.
PyObject* tle_get_satno(PyObject* op, void*) {
    const char* field = reinterpret_cast<TLEObject*>(op)->_satno;
    Py_ssize_t begin = 0, end = static_cast<Py_ssize_t>(strnlen(field, kSatnoChars + 1));
    while (begin < end && is_ascii_space(static_cast<unsigned char>(field[begin]))) ++begin;
    while (end > begin && is_ascii_space(static_cast<unsigned char>(field[end - 1]))) --end;
    Ref text = Ref::steal(PyUnicode_DecodeASCII(field + begin, end - begin, nullptr));
    if (!text) return nullptr;
    PyObject* number = PyNumber_Long(text.get());
    if (number) return number;
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return nullptr;
    PyErr_Clear();
    return text.release();
}

PyGetSetDef tle_getset[] = {
    {"line1", tle_get_line1, nullptr, "TLE.line1: str", nullptr},
    {"line2", tle_get_line2, nullptr, "TLE.line2: str", nullptr},
    {"satno", tle_get_satno, nullptr, "TLE.satno: int | str", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef tle_members[] = {
    {"epoch", T_OBJECT, offsetof(TLEObject, epoch), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef tle_methods[] = {
    orbalis::py::kRefuseReduce,
    orbalis::py::kRefuseSetstate,
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot tle_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tle_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tle_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(tle_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(tle_clear)},
    {Py_tp_getset, tle_getset},
    {Py_tp_members, tle_members},
    {Py_tp_methods, tle_methods},
    {0, nullptr},
};

PyType_Spec tle_spec = {
    kQualifiedType,
    sizeof(TLEObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    tle_slots,
};

PyObject* intern(const char* text) { return PyUnicode_InternFromString(text); }

int tle_exec(PyObject* module) {
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return -1;
    Ref time_type = orbalis::py::import_attr("orbalis.time.time", "Time");
    if (!time_type) return -1;
    if (!PyType_Check(time_type.get())) {
        PyErr_Format(PyExc_TypeError, "orbalis.time.time.Time is not a type object (got %.200s)",
                     Py_TYPE(time_type.get())->tp_name);
        return -1;
    }

    Ref str_jd = Ref::steal(intern("jd"));
    Ref str_strip = Ref::steal(intern("strip"));
    Ref str_upper = Ref::steal(intern("upper"));
    Ref str_format = Ref::steal(intern("format"));
    if (!str_jd || !str_strip || !str_upper || !str_format) return -1;
    Ref kwnames = Ref::steal(PyTuple_Pack(1, str_format.get()));
    if (!kwnames) return -1;

    Ref from_normalised = Ref::steal(PyObject_GetAttrString(time_type.get(), "_from_normalised"));
    if (!from_normalised) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();  // a Time type without the fast path: the public constructor serves
    }

    Ref type = Ref::steal(PyType_FromModuleAndSpec(module, &tle_spec, nullptr));
    if (!type) return -1;
    locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (c_locale == static_cast<locale_t>(nullptr)) {
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    // Types made from a spec cannot name a vectorcall slot; the field is set directly, as
    // the interpreter does for its own types. It is never inherited by subclasses.
    reinterpret_cast<PyTypeObject*>(type.get())->tp_vectorcall = tle_vectorcall;
    if (PyModule_AddObjectRef(module, "TLE", type.get()) < 0) {
        freelocale(c_locale);
        return -1;
    }

    g_tle_type = reinterpret_cast<PyTypeObject*>(Py_NewRef(type.get()));
    g_time_type = time_type.release();
    g_str_jd = str_jd.release();
    g_str_strip = str_strip.release();
    g_str_upper = str_upper.release();
    g_kwnames_format = kwnames.release();
    g_c_locale = c_locale;
    g_time_from_normalised = from_normalised.release();
    for (double& jd : g_year_start_jd) jd = std::nan("");
    return 0;
}

}  // namespace

PyMODINIT_FUNC PyInit_tle() {
    return orbalis::py::init_module<tle_exec>("orbalis.propagators.analytical.sgp4.tle",
                                              "Two-Line Element set records: the TLE type.");
}
