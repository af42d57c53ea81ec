// Owned references and the small helpers shared by every orbalis extension module:
// imports, argument binding, traceback entries, the pickling refusal, compile-time
// qualified names and the module definition.
//
// A raw `PyObject*` is always borrowed. An owned reference lives in a `Ref`, which
// replaces the manual Py_DECREF ladders of C extension code: it is move-only, and the
// names of its constructors and accessors (`steal`, `borrow`, `release`) say at every
// call who owns what. An object slot of an extension type is a raw pointer that owns its
// reference and is replaced with Py_XSETREF. Nothing here throws; errors follow the C API
// convention (NULL or -1 with a Python exception set).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

#include <array>
#include <cstddef>
#include <utility>

namespace orbalis::py {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Ref() { Py_XDECREF(ptr_); }

    // Takes over a new reference (the result of most C API calls); NULL is allowed.
    static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return Ref(obj);
    }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // Hands the reference to the caller (for return values and reference-stealing calls).
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    // Replaces the held object by `stolen` (a new reference or NULL), dropping the old one
    // only after the new one is in place, so a destructor that runs Python code never sees
    // a half-updated slot.
    void reset(PyObject* stolen = nullptr) noexcept {
        PyObject* old = std::exchange(ptr_, stolen);
        Py_XDECREF(old);
    }

private:
    explicit Ref(PyObject* obj) noexcept : ptr_(obj) {}
    PyObject* ptr_ = nullptr;
};

// `from module import name`, as an owned reference; NULL with the import's error set.
inline Ref import_attr(const char* module, const char* name) {
    Ref mod = Ref::steal(PyImport_ImportModule(module));
    if (!mod) return {};
    Ref attr = Ref::steal(PyObject_GetAttrString(mod.get(), name));
    if (!attr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
    }
    return attr;
}

// Adds `from module import name` to the namespace `dict` under the same name.
inline int bind_import(PyObject* dict, const char* module, const char* name) {
    Ref attr = import_attr(module, name);
    if (!attr) return -1;
    return PyDict_SetItemString(dict, name, attr.get());
}

// Whether `assert` statements run in this process (false under `python -O`). Read once
// when a module initialises; the interpreter's setting cannot change afterwards.
inline int read_assertions_enabled() {
    Ref flags = import_attr("sys", "flags");
    if (!flags) return -1;
    Ref optimize = Ref::steal(PyObject_GetAttrString(flags.get(), "optimize"));
    if (!optimize) return -1;
    long level = PyLong_AsLong(optimize.get());
    if (level == -1 && PyErr_Occurred()) return -1;
    return level == 0 ? 1 : 0;
}

// Raises AssertionError without a message, as a failed `assert` does.
inline void raise_assertion() { PyErr_SetNone(PyExc_AssertionError); }

// Appends a traceback entry naming `funcname` to the pending exception, so a failure
// inside native code shows which method or kernel it passed through.
inline void add_traceback(const char* funcname, const char* filename, int lineno = 0) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    Ref globals = Ref::steal(PyDict_New());
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, lineno)));
    Ref frame;
    if (globals && code)
        frame = Ref::steal(reinterpret_cast<PyObject*>(
            PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()),
                        globals.get(), nullptr)));
    // Restoring drops any error of the calls above: losing the extra entry is better
    // than losing the original error.
    PyErr_Restore(type, value, tb);
    if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

// Binds positional and keyword arguments to the parameter names `names[0..total)`, the
// first `required` of them mandatory, into `out` (borrowed references; NULL for an
// optional argument not given). Raises TypeError as the interpreter does for a wrong
// count, an unexpected keyword or a value given twice. `kwnames` is the vectorcall tuple
// of keyword names whose values follow the positional ones in `args`.
inline int bind_arguments(const char* fname, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, const char* const* names, Py_ssize_t required,
                          Py_ssize_t total, PyObject** out) {
    if (nargs > total) {
        PyErr_Format(PyExc_TypeError, "%s() takes %s %zd positional argument%s (%zd given)", fname,
                     required == total ? "exactly" : "at most", total, total == 1 ? "" : "s",
                     nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < total; ++i) out[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t slot = -1;
        for (Py_ssize_t i = 0; i < total && slot < 0; ++i)
            if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, names[i]) == 0)
                slot = i;
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", fname,
                         key);
            return -1;
        }
        if (out[slot]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname,
                         names[slot]);
            return -1;
        }
        out[slot] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < required; ++i) {
        if (!out[i]) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", fname,
                         names[i], i + 1);
            return -1;
        }
    }
    return 0;
}

// The same for the (args tuple, kwargs dict) form of tp_new and tp_init.
inline int bind_arguments(const char* fname, PyObject* args, PyObject* kwargs,
                          const char* const* names, Py_ssize_t required, Py_ssize_t total,
                          PyObject** out) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    if (nkw == 0)
        return bind_arguments(fname, reinterpret_cast<PyTupleObject*>(args)->ob_item, nargs,
                              nullptr, names, required, total, out);
    if (nargs + nkw > 16) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd arguments (%zd given)", fname, total,
                     nargs + nkw);
        return -1;
    }
    PyObject* flat[16];
    Ref kwnames = Ref::steal(PyTuple_New(nkw));
    if (!kwnames) return -1;
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = PyTuple_GET_ITEM(args, i);
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        Py_INCREF(key);
        PyTuple_SET_ITEM(kwnames.get(), k, key);
        flat[nargs + k++] = value;
    }
    // The values stay owned by `kwargs`, which outlives the call.
    return bind_arguments(fname, flat, nargs, kwnames.get(), names, required, total, out);
}

// The refusal shared by every type that cannot be pickled or copied.
inline constexpr const char* kNoReduceMessage =
    "no default __reduce__ due to non-trivial __cinit__";

inline PyObject* refuse_reduce(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, kNoReduceMessage);
    return nullptr;
}

// Method table entries `__reduce__()` and `__setstate__(state)` that always raise; a type
// that refuses pickling lists both: `py::kRefuseReduce, py::kRefuseSetstate,`.
inline constexpr PyMethodDef kRefuseReduce = {"__reduce__", refuse_reduce, METH_NOARGS, nullptr};
inline constexpr PyMethodDef kRefuseSetstate = {"__setstate__", refuse_reduce, METH_O, nullptr};

// A string literal that can be a template argument, so that names are joined at compile
// time.
template <std::size_t N>
struct Literal {
    char text[N];
    constexpr Literal(const char (&s)[N]) noexcept {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

template <Literal Prefix, Literal Leaf>
struct DottedName {
    static constexpr auto value = [] {
        constexpr std::size_t prefix = sizeof(Prefix.text) - 1, leaf = sizeof(Leaf.text) - 1;
        std::array<char, prefix + 1 + leaf + 1> out{};
        for (std::size_t i = 0; i < prefix; ++i) out[i] = Prefix.text[i];
        out[prefix] = '.';
        for (std::size_t i = 0; i < leaf; ++i) out[prefix + 1 + i] = Leaf.text[i];
        return out;
    }();
};

// "Prefix.Leaf" as a static NUL-terminated string: a module spells its dotted name once
// and derives the qualified names of its types, methods and exceptions from it.
template <Literal Prefix, Literal Leaf>
inline constexpr const char* dotted = DottedName<Prefix, Leaf>::value.data();

// Guards a module against a second initialisation in the same process: creating the
// module object twice (a re-import after removal from sys.modules, or a subinterpreter)
// raises RuntimeError, because the module keeps process-wide native state.
inline PyObject* create_module_once(bool& initialised, PyObject* spec, PyModuleDef* def) {
    if (initialised) {
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     def->m_name);
        return nullptr;
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    PyObject* module = PyModule_NewObject(name.get());
    if (module) initialised = true;
    return module;
}

// The module definition of an orbalis extension: multi-phase initialisation running
// `Exec` on the new module, whose creation refuses a second initialisation. Called once,
// from the module's PyInit function.
template <int (*Exec)(PyObject*)>
PyObject* init_module(const char* name, const char* doc, PyMethodDef* methods = nullptr) {
    static bool initialised = false;
    static PyModuleDef_Slot slots[] = {
        {Py_mod_create, reinterpret_cast<void*>(+[](PyObject* spec, PyModuleDef* def) {
             return create_module_once(initialised, spec, def);
         })},
        {Py_mod_exec, reinterpret_cast<void*>(Exec)},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, name, doc, 0, methods, slots, nullptr, nullptr, nullptr};
    return PyModuleDef_Init(&def);
}

}  // namespace orbalis::py
