// The satellite extension module: `Satellite` (a satellite's current epoch), `State` (a
// reference frame and a time), `StateVector` (N positions and velocities in one frame,
// viewed in place on the caller's arrays), the conversion of state vectors between frames
// through the frames module, and the pickled form of `State`. The time type and the frame
// classes come from the companion modules orbalis.time.time and orbalis.frames.frames and
// are bound once, when the module initialises.
#include "method.hpp"
#include "pyref.hpp"

#include <numpy/arrayobject.h>

#include "buffer_view.hpp"

namespace orbalis::satellite {
namespace {

using py::Float64View2D;
using py::Ref;

constexpr py::Literal kModule = "orbalis.satellite.satellite";

// Layout checksums of State's members "frame time": the leading 28 bits of the string's
// SHA-256 digest (the one written), and of its SHA-1 and MD5 digests (also accepted).
constexpr long long kChecksumSha256 = 0x1dc0ed3;
constexpr long long kChecksumSha1 = 0xe2bddd5;
constexpr long long kChecksumMd5 = 0xf4e554c;
constexpr const char* kIncompatibleChecksums =
    "Incompatible checksums (0x%x vs (0x1dc0ed3, 0xe2bddd5, 0xf4e554c) = (frame, time))";

// Everything bound at initialisation. The module can only be initialised once per
// process, so these references live (and are never released) for the life of the process.
bool g_assertions_enabled = true;
PyTypeObject* g_state_type = nullptr;
PyTypeObject* g_state_vector_type = nullptr;
PyTypeObject* g_satellite_type = nullptr;
PyTypeObject* g_time_type = nullptr;
PyTypeObject* g_frame_type = nullptr;
// Checked at import; afterwards only Frame and frame instances are used.
PyObject* g_frame_classes[3] = {};  // _GCRF, _ITRF, _TEME
PyObject* g_frame_objects[3] = {};  // GCRF, ITRF, TEME
PyObject* g_numpy_all = nullptr;
PyObject* g_unpickle_state = nullptr;
PyObject* g_frame_attribute_error = nullptr;

// Interned attribute names.
struct Names {
    PyObject* r;
    PyObject* v;
    PyObject* size;
    PyObject* is_frame;
    PyObject* transform_to;
    PyObject* to_frame;
    PyObject* dict;
    PyObject* update;
    PyObject* new_;
    PyObject* gcrf;
} g_names = {};

struct StateObject {
    PyObject_HEAD
    PyObject* frame;  // a Frame instance or None
    PyObject* time;   // a Time instance or None
};

struct StateVectorObject {
    StateObject base;
    Float64View2D r;
    Float64View2D v;
};

struct SatelliteObject {
    PyObject_HEAD
    PyObject* time;  // whatever Time(value) returned, or None
};

StateObject* as_state(PyObject* o) { return reinterpret_cast<StateObject*>(o); }
StateVectorObject* as_sv(PyObject* o) { return reinterpret_cast<StateVectorObject*>(o); }
SatelliteObject* as_satellite(PyObject* o) { return reinterpret_cast<SatelliteObject*>(o); }

bool is_frame_object(PyObject* o) { return PyObject_TypeCheck(o, g_frame_type); }

// ---------------------------------------------------------------------------------------
// State

PyObject* state_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_state(self)->frame = Py_NewRef(Py_None);
    as_state(self)->time = Py_NewRef(Py_None);
    return self;
}

// An instance of a heap type owns a reference to its type: traverse visits it (for a Python
// subclass too, whose own traverse leaves that to a heap base), and dealloc drops it last.
int state_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_state(self)->frame);
    Py_VISIT(as_state(self)->time);
    return 0;
}

int state_clear(PyObject* self) {
    Py_XSETREF(as_state(self)->frame, Py_NewRef(Py_None));
    Py_XSETREF(as_state(self)->time, Py_NewRef(Py_None));
    return 0;
}

void state_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_state(self)->frame);
    Py_CLEAR(as_state(self)->time);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* state_get_frame(PyObject* self, void*) { return Py_NewRef(as_state(self)->frame); }
PyObject* state_get_time(PyObject* self, void*) { return Py_NewRef(as_state(self)->time); }

PyObject* state_repr(PyObject* self) {
    const int entered = Py_ReprEnter(self);
    if (entered != 0) return entered > 0 ? PyUnicode_FromString("...") : nullptr;
    PyObject* text = PyUnicode_FromFormat("%s(frame=%R, time=%R)", _PyType_Name(Py_TYPE(self)),
                                          as_state(self)->frame, as_state(self)->time);
    Py_ReprLeave(self);
    return text;
}

// `hasattr(o, "__dict__")` followed by the read: an AttributeError means "absent" (an
// empty reference and no error), any other error is reported (-1).
int lookup_instance_dict(PyObject* o, Ref& dict) {
    dict = Ref::steal(PyObject_GetAttr(o, g_names.dict));
    if (dict) return 0;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
}

// Applies a state tuple (frame, time[, instance dict]) to a State. A state vector is
// refused: its time must keep matching its rows, which a state tuple knows nothing of.
int apply_state(PyObject* self, PyObject* state) {
    if (PyObject_TypeCheck(self, g_state_vector_type)) {
        PyErr_Format(PyExc_TypeError,
                     "a State's state cannot be applied to %.200s, whose time must match its "
                     "rows",
                     Py_TYPE(self)->tp_name);
        return -1;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(state);
    if (n < 2) {
        PyErr_Format(PyExc_TypeError, "State state tuple must hold (frame, time), got %zd item%s",
                     n, n == 1 ? "" : "s");
        return -1;
    }
    PyObject* frame = PyTuple_GET_ITEM(state, 0);
    if (frame != Py_None && !is_frame_object(frame)) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(frame)->tp_name,
                     g_frame_type->tp_name);
        return -1;
    }
    Py_XSETREF(as_state(self)->frame, Py_NewRef(frame));
    PyObject* time = PyTuple_GET_ITEM(state, 1);
    if (time != Py_None && !PyObject_TypeCheck(time, g_time_type)) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(time)->tp_name,
                     g_time_type->tp_name);
        return -1;
    }
    Py_XSETREF(as_state(self)->time, Py_NewRef(time));
    if (n > 2) {
        Ref dict;
        if (lookup_instance_dict(self, dict) < 0) return -1;
        if (dict) {
            Ref done = Ref::steal(
                PyObject_CallMethodOneArg(dict.get(), g_names.update, PyTuple_GET_ITEM(state, 2)));
            if (!done) return -1;
        }
    }
    return 0;
}

PyObject* state_reduce(PyObject* self, PyObject*) {
    StateObject* s = as_state(self);
    Ref state = Ref::steal(PyTuple_Pack(2, s->frame, s->time));
    if (!state) return nullptr;
    Ref dict;
    if (lookup_instance_dict(self, dict) < 0) return nullptr;
    bool three_items;
    if (dict && dict.get() != Py_None) {
        Ref extended = Ref::steal(PyTuple_Pack(3, s->frame, s->time, dict.get()));
        if (!extended) return nullptr;
        state = std::move(extended);
        three_items = true;
    } else {
        three_items = s->frame != Py_None || s->time != Py_None;
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (three_items)
        return Py_BuildValue("O(OLO)O", g_unpickle_state, type, kChecksumSha256, Py_None,
                             state.get());
    return Py_BuildValue("O(OLO)", g_unpickle_state, type, kChecksumSha256, state.get());
}

PyObject* state_setstate(PyObject* self, PyObject* state) {
    if (state == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return nullptr;
    }
    if (!PyTuple_CheckExact(state)) {
        PyErr_Format(PyExc_TypeError, "State.__setstate__() argument must be a tuple, not %.200s",
                     Py_TYPE(state)->tp_name);
        return nullptr;
    }
    if (apply_state(self, state) < 0) return nullptr;
    Py_RETURN_NONE;
}

// The checksum goes through `__int__` as the loader has always done, so integral
// objects other than int load too; a str is refused rather than parsed.
bool checksum_as_long_long(PyObject* value, long long& out) {
    Ref as_int;
    if (PyLong_Check(value)) {
        as_int = Ref::borrow(value);
    } else {
        PyNumberMethods* nb = Py_TYPE(value)->tp_as_number;
        if (nb && nb->nb_int) {
            as_int = Ref::steal(nb->nb_int(value));
            if (as_int && !PyLong_Check(as_int.get())) {
                PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                             Py_TYPE(as_int.get())->tp_name);
                return false;
            }
        } else if (nb && nb->nb_index) {
            as_int = Ref::steal(PyNumber_Index(value));
        } else {
            PyErr_Format(PyExc_TypeError, "checksum must be an integer, not %.200s",
                         Py_TYPE(value)->tp_name);
            return false;
        }
        if (!as_int) return false;
    }
    out = PyLong_AsLongLong(as_int.get());
    return !(out == -1 && PyErr_Occurred());
}

PyObject* unpickle_state(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"__pyx_type", "__pyx_checksum", "__pyx_state"};
    PyObject* a[3];
    if (py::bind_arguments("__pyx_unpickle_State", args, nargs, kwnames, names, 3, 3, a) < 0)
        return nullptr;
    long long checksum;
    if (!checksum_as_long_long(a[1], checksum)) return nullptr;
    if (checksum != kChecksumSha256 && checksum != kChecksumSha1 && checksum != kChecksumMd5) {
        Ref pickle_error = py::import_attr("pickle", "PickleError");
        if (!pickle_error) return nullptr;
        Ref template_ = Ref::steal(PyUnicode_FromString(kIncompatibleChecksums));
        Ref received = Ref::steal(PyLong_FromLongLong(checksum));
        if (!template_ || !received) return nullptr;
        Ref message = Ref::steal(PyUnicode_Format(template_.get(), received.get()));
        if (!message) return nullptr;
        PyErr_SetObject(pickle_error.get(), message.get());
        return nullptr;
    }
    // State.__new__(type) applies the interpreter's checks that `type` allocates as a State.
    Ref self = Ref::steal(
        PyObject_CallMethodOneArg(reinterpret_cast<PyObject*>(g_state_type), g_names.new_, a[0]));
    if (!self) return nullptr;
    PyObject* state = a[2];
    if (state != Py_None) {
        if (!PyTuple_CheckExact(state)) {
            PyErr_Format(PyExc_TypeError,
                         "__pyx_unpickle_State() state must be a tuple or None, not %.200s",
                         Py_TYPE(state)->tp_name);
            return nullptr;
        }
        if (apply_state(self.get(), state) < 0) return nullptr;
    }
    return self.release();
}

PyGetSetDef state_getset[] = {
    {"frame", state_get_frame, nullptr, nullptr, nullptr},
    {"time", state_get_time, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef state_methods[] = {
    {"__reduce__", state_reduce, METH_NOARGS, "State.__reduce__(self)"},
    {"__setstate__", state_setstate, METH_O, "State.__setstate__(self, state: tuple) -> None"},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------------------
// StateVector

// Resolves a frame argument: a Frame instance stands for itself, anything else is looked up
// as Frame[value].
Ref resolve_frame(PyObject* value) {
    if (is_frame_object(value)) return Ref::borrow(value);
    return Ref::steal(PyObject_GetItem(reinterpret_cast<PyObject*>(g_frame_type), value));
}

int check_shapes(const StateVectorObject* sv) {
    const Float64View2D& r = sv->r;
    const Float64View2D& v = sv->v;
    if (r.extent[0] != v.extent[0]) return py::raise_assertion(), -1;
    // The epoch count is compared as Python objects: `size` may be any integer-like.
    Ref size = Ref::steal(PyObject_GetAttr(sv->base.time, g_names.size));
    if (!size) return -1;
    int same;
    if (PyLong_CheckExact(size.get())) {
        // An exact int compares as its value, without the row count built as an object.
        int overflow;
        const long long n = PyLong_AsLongLongAndOverflow(size.get(), &overflow);
        same = overflow == 0 && n == v.extent[0];
    } else {
        Ref rows = Ref::steal(PyLong_FromSsize_t(v.extent[0]));
        if (!rows) return -1;
        Ref equal = Ref::steal(PyObject_RichCompare(rows.get(), size.get(), Py_EQ));
        if (!equal) return -1;
        same = PyObject_IsTrue(equal.get());
        if (same < 0) return -1;
    }
    if (!same) return py::raise_assertion(), -1;
    if (r.extent[1] != v.extent[1] || v.extent[1] != 3) return py::raise_assertion(), -1;
    return 0;
}

constexpr const char* kStateVectorArgs[] = {"time", "r", "v", "frame"};

// Construction from the bound arguments time, r, v and frame (NULL when not given).
PyObject* make_state_vector(PyTypeObject* type, PyObject* const* a) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    StateVectorObject* sv = as_sv(self.get());
    sv->base.frame = Py_NewRef(Py_None);
    sv->base.time = Py_NewRef(Py_None);

    Ref frame = resolve_frame(a[3] ? a[3] : g_names.gcrf);
    if (!frame) return nullptr;
    if (frame.get() != Py_None && !is_frame_object(frame.get())) {
        PyErr_Format(PyExc_TypeError, "frame lookup returned %.200s, not a %.200s",
                     Py_TYPE(frame.get())->tp_name, g_frame_type->tp_name);
        return nullptr;
    }
    Py_XSETREF(sv->base.frame, frame.release());

    PyObject* time = PyObject_CallOneArg(reinterpret_cast<PyObject*>(g_time_type), a[0]);
    if (!time) return nullptr;
    Py_XSETREF(sv->base.time, time);

    if (py::acquire_view(sv->r, a[1], "r") < 0) return nullptr;
    if (py::acquire_view(sv->v, a[2], "v") < 0) return nullptr;
    if (g_assertions_enabled && check_shapes(sv) < 0) return nullptr;
    return self.release();
}

PyObject* sv_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* a[4];
    if (py::bind_arguments("StateVector", args, kwargs, kStateVectorArgs, 3, 4, a) < 0)
        return nullptr;
    return make_state_vector(type, a);
}

// A call of the type itself, without building the argument tuple and dict of tp_new (and
// the initialiser call that would follow). The interpreter uses it for StateVector only:
// a subclass, which may define __new__ or __init__, is called the usual way.
PyObject* sv_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    PyObject* a[4];
    if (py::bind_arguments("StateVector", args, PyVectorcall_NARGS(nargsf), kwnames,
                           kStateVectorArgs, 3, 4, a) < 0)
        return nullptr;
    return make_state_vector(reinterpret_cast<PyTypeObject*>(type), a);
}

// The views follow the model of the interpreter's own holders of a Py_buffer: what traverse
// reports, clear releases, and dealloc releases whatever is left, each view exactly once.
// Only NumPy exporters are reported (see collectable_exporter): any other exporter is kept
// reachable, and so uncleared, while the state vector holds its export.
int sv_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(py::collectable_exporter(as_sv(self)->r));
    Py_VISIT(py::collectable_exporter(as_sv(self)->v));
    return state_traverse(self, visit, arg);
}

int sv_clear(PyObject* self) {
    for (Float64View2D* view : {&as_sv(self)->r, &as_sv(self)->v})
        if (py::collectable_exporter(*view)) py::release_view(*view);
    return state_clear(self);
}

void sv_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    py::release_view(as_sv(self)->r);
    py::release_view(as_sv(self)->v);
    Py_CLEAR(as_state(self)->frame);
    Py_CLEAR(as_state(self)->time);
    type->tp_free(self);
    Py_DECREF(type);
}

// A new writable array over the view's memory with the view's strides. Its base keeps the
// memory valid for as long as the array lives, without keeping the state vector alive: an
// ndarray exporter is the base itself (NumPy collapses a chain of views to the array that
// owns the data, so state vectors converted from state vectors never form a growing chain);
// any other exporter is held through a memoryview, whose buffer export also stops a
// resizable exporter such as a bytearray from moving the memory. (Over a NumPy exporter the
// result is an ordinary NumPy view: once the state vector is gone it has the protection of
// NumPy's own views, which `resize(refcheck=False)` overrides.)
PyObject* view_as_array(const Float64View2D& view) {
    npy_intp dims[2] = {view.extent[0], view.extent[1]};
    if (view.empty()) return PyArray_ZEROS(2, dims, NPY_DOUBLE, 0);
    PyObject* exporter = view.buffer.obj;
    Ref base = PyArray_Check(exporter) ? Ref::borrow(exporter)
                                       : Ref::steal(PyMemoryView_FromObject(exporter));
    if (!base) return nullptr;
    npy_intp strides[2] = {view.stride[0], view.stride[1]};
    Ref array =
        Ref::steal(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), 2, dims,
                                        strides, view.data, NPY_ARRAY_WRITEABLE, nullptr));
    if (!array) return nullptr;
    // SetBaseObject takes over the reference, also when it fails.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), base.release()) < 0)
        return nullptr;
    return array.release();
}

PyObject* sv_get_r(PyObject* self, void*) { return view_as_array(as_sv(self)->r); }
PyObject* sv_get_v(PyObject* self, void*) { return view_as_array(as_sv(self)->v); }

PyObject* sv_not_implemented(PyObject*, void*) {
    PyErr_SetNone(PyExc_NotImplementedError);
    return nullptr;
}

// numpy.all(x == y)
Ref all_equal(PyObject* x, PyObject* y) {
    Ref elementwise = Ref::steal(PyObject_RichCompare(x, y, Py_EQ));
    if (!elementwise) return {};
    return Ref::steal(PyObject_CallOneArg(g_numpy_all, elementwise.get()));
}

// Equality of two state vectors: the same frame object, then the times, positions and
// velocities compared exactly; the first false result (or the last) is the answer.
Ref sv_equal(PyObject* a, PyObject* b) {
    if (as_state(a)->frame != as_state(b)->frame) return Ref::borrow(Py_False);
    Ref result = all_equal(as_state(a)->time, as_state(b)->time);
    for (PyObject* name : {g_names.r, g_names.v}) {
        if (!result) return {};
        const int truth = PyObject_IsTrue(result.get());
        if (truth < 0) return {};
        if (!truth) return result;
        Ref x = Ref::steal(PyObject_GetAttr(a, name));
        if (!x) return {};
        Ref y = Ref::steal(PyObject_GetAttr(b, name));
        if (!y) return {};
        result = all_equal(x.get(), y.get());
    }
    return result;
}

PyObject* sv_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    if (!PyObject_TypeCheck(other, g_state_vector_type)) {
        PyErr_Format(PyExc_TypeError, "Cannot compare StateVector with %S",
                     reinterpret_cast<PyObject*>(Py_TYPE(other)));
        return nullptr;
    }
    Ref equal = sv_equal(self, other);
    if (!equal || op == Py_EQ) return equal.release();
    const int truth = PyObject_IsTrue(equal.get());
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
}

PyObject* call_state_vector(PyObject* time, PyObject* r, PyObject* v, PyObject* frame) {
    PyObject* args[] = {time, r, v, frame};
    return PyObject_Vectorcall(reinterpret_cast<PyObject*>(g_state_vector_type), args, 4, nullptr);
}

// Unpacks exactly two items from any iterable, as `a, b = result` does.
bool unpack_pair(PyObject* result, Ref& first, Ref& second) {
    if (Py_TYPE(result)->tp_iter == nullptr && !PySequence_Check(result)) {
        PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                     Py_TYPE(result)->tp_name);
        return false;
    }
    Ref iterator = Ref::steal(PyObject_GetIter(result));
    if (!iterator) return false;
    Ref* items[] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        *items[i] = Ref::steal(PyIter_Next(iterator.get()));
        if (!*items[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)",
                             i);
            return false;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(iterator.get()));
    if (extra) {
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return false;
    }
    return !PyErr_Occurred();
}

PyObject* sv_to_frame(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"frame"};
    PyObject* frame_arg;
    if (py::bind_arguments("to_frame", args, nargs, kwnames, names, 1, 1, &frame_arg) < 0)
        return nullptr;
    StateObject* s = as_state(self);
    // A Frame instance is the target itself; anything else is resolved with no type test.
    Ref target = resolve_frame(frame_arg);
    if (!target) return nullptr;
    Ref r = Ref::steal(PyObject_GetAttr(self, g_names.r));
    if (!r) return nullptr;
    Ref v = Ref::steal(PyObject_GetAttr(self, g_names.v));
    if (!v) return nullptr;
    // The same frame object: a new state vector on the same memory, no transformation.
    if (target.get() == s->frame) return call_state_vector(s->time, r.get(), v.get(), s->frame);
    PyObject* call_args[] = {s->frame, target.get(), s->time, r.get(), v.get()};
    Ref result = Ref::steal(PyObject_VectorcallMethod(g_names.transform_to, call_args, 5, nullptr));
    if (!result) return nullptr;
    Ref new_r, new_v;
    if (!unpack_pair(result.get(), new_r, new_v)) return nullptr;
    return call_state_vector(s->time, new_r.get(), new_v.get(), target.get());
}

// Reached when normal lookup of `name` (a str) fails with AttributeError: a frame name
// converts the state vector to that frame. Anything else raises FrameAttributeError, which
// is a ValueError but also an AttributeError, so hasattr() and getattr() with a default
// keep working for the attribute probes of NumPy, copy and interactive shells. A str
// subclass is looked up as the plain str of the same text, as normal lookup does, so its
// own methods cannot change what the frames service is asked.
PyObject* frame_fallback(PyObject* self, PyObject* name) {
    Ref text = Ref::steal(PyUnicode_FromObject(name));  // the same object for an exact str
    if (!text) return nullptr;
    name = text.get();
    PyObject* frame_type = reinterpret_cast<PyObject*>(g_frame_type);
    Ref known = Ref::steal(PyObject_CallMethodOneArg(frame_type, g_names.is_frame, name));
    if (!known) return nullptr;
    const int truth = PyObject_IsTrue(known.get());
    if (truth < 0) return nullptr;
    if (!truth) {
        PyErr_SetNone(g_frame_attribute_error);
        return nullptr;
    }
    Ref target = Ref::steal(PyObject_GetItem(frame_type, name));
    if (!target) return nullptr;
    return PyObject_CallMethodOneArg(self, g_names.to_frame, target.get());
}

PyObject* sv_getattro(PyObject* self, PyObject* name) {
    PyObject* found = PyObject_GenericGetAttr(self, name);
    if (found || !PyErr_ExceptionMatches(PyExc_AttributeError)) return found;
    PyErr_Clear();
    return frame_fallback(self, name);
}

// `__getattribute__` is the normal lookup alone. A Python subclass dispatches attribute
// access as __getattribute__, then __getattr__ on AttributeError; were the fallback part
// of __getattribute__ too, its AttributeError would run the fallback a second time.
// (METH_COEXIST: it replaces the slot wrapper that would otherwise name the full lookup.)
PyObject* sv_getattribute_method(PyObject* self, PyObject* name) {
    return PyObject_GenericGetAttr(self, name);
}

// For an instance of a Python subclass the interpreter runs the fallback through this
// method, with the name as given: a str subclass is accepted here for that reason.
PyObject* sv_getattr_method(PyObject* self, PyObject* item) {
    if (!PyUnicode_Check(item)) {
        PyErr_Format(PyExc_TypeError,
                     "Argument 'item' has incorrect type (expected str, got %.200s)",
                     Py_TYPE(item)->tp_name);
        return nullptr;
    }
    return frame_fallback(self, item);
}

PyObject* sv_repr(PyObject* self) {
    const int entered = Py_ReprEnter(self);
    if (entered != 0) return entered > 0 ? PyUnicode_FromString("...") : nullptr;
    const StateVectorObject* sv = as_sv(self);
    PyObject* text = PyUnicode_FromFormat(
        "<%s of %zd epoch%s in frame %R at time %R>", _PyType_Name(Py_TYPE(self)), sv->r.extent[0],
        sv->r.extent[0] == 1 ? "" : "s", sv->base.frame, sv->base.time);
    Py_ReprLeave(self);
    return text;
}

PyGetSetDef sv_getset[] = {
    {"r", sv_get_r, nullptr, "StateVector.r: ndarray", nullptr},
    {"v", sv_get_v, nullptr, "StateVector.v: ndarray", nullptr},
    {"coe", sv_not_implemented, nullptr, "StateVector.coe: ndarray", nullptr},
    {"lla", sv_not_implemented, nullptr, "StateVector.lla: ndarray", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef sv_methods[] = {
    {"__getattribute__", sv_getattribute_method, METH_O | METH_COEXIST,
     "StateVector.__getattribute__(self, name: str)\n\nNormal attribute lookup, without the "
     "frame-name fallback of __getattr__."},
    {"__getattr__", sv_getattr_method, METH_O,
     "StateVector.__getattr__(self, item: str) -> StateVector\n\n"
     "Converts the state vector to the frame named `item` (see to_frame)."},
    py::kRefuseReduce,
    py::kRefuseSetstate,
    {nullptr, nullptr, 0, nullptr},
};

const char* const kToFrameAnnotations[] = {"frame", "Frame | str", "return", "StateVector",
                                           nullptr};

constexpr const char* kToFrameDoc =
    "StateVector.to_frame(self, frame: Frame | str) -> StateVector\n"
    "\n"
    "The same states expressed in another reference frame.\n"
    "\n"
    "`frame` is a frame object or a name the frames module resolves (\"GCRF\", ...). For\n"
    "the state vector's own frame object the result views the same arrays; otherwise the\n"
    "current frame's transform_to(target, time, r, v) computes new arrays.";

// ---------------------------------------------------------------------------------------
// Satellite

PyObject* satellite_new(PyTypeObject* type, PyObject*, PyObject* kwargs) {
    // Arguments are the initialiser's business (a subclass may take some); only the
    // keyword names are checked here.
    if (kwargs && !PyArg_ValidateKeywordArguments(kwargs)) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_satellite(self)->time = Py_NewRef(Py_None);
    return self;
}

int satellite_init(PyObject*, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > 0) {
        PyErr_Format(PyExc_TypeError, "Satellite() takes no arguments (%zd given)", nargs);
        return -1;
    }
    if (kwargs && PyDict_GET_SIZE(kwargs) > 0) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        PyDict_Next(kwargs, &pos, &key, &value);
        PyErr_Format(PyExc_TypeError, "Satellite() got an unexpected keyword argument '%S'", key);
        return -1;
    }
    return 0;
}

int satellite_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_satellite(self)->time);
    return 0;
}

int satellite_clear(PyObject* self) {
    Py_XSETREF(as_satellite(self)->time, Py_NewRef(Py_None));
    return 0;
}

void satellite_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_satellite(self)->time);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* satellite_get_time(PyObject* self, void*) { return Py_NewRef(as_satellite(self)->time); }

int satellite_set_time(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_NotImplementedError, "Satellite.time cannot be deleted");
        return -1;
    }
    // Converted before the swap: a failed conversion leaves the old time in place.
    PyObject* time = PyObject_CallOneArg(reinterpret_cast<PyObject*>(g_time_type), value);
    if (!time) return -1;
    Py_XSETREF(as_satellite(self)->time, time);
    return 0;
}

PyObject* satellite_repr(PyObject* self) {
    const int entered = Py_ReprEnter(self);
    if (entered != 0) return entered > 0 ? PyUnicode_FromString("...") : nullptr;
    PyObject* text =
        PyUnicode_FromFormat("%s(time=%R)", _PyType_Name(Py_TYPE(self)), as_satellite(self)->time);
    Py_ReprLeave(self);
    return text;
}

PyGetSetDef satellite_getset[] = {
    {"time", satellite_get_time, satellite_set_time, "Satellite.time: Time", nullptr},
    {"_time", satellite_get_time, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef satellite_methods[] = {
    py::kRefuseReduce,
    py::kRefuseSetstate,
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------------------
// Module

// The class docstrings are fixed (State and StateVector have none, Satellite's is its
// signature), so the types are documented in the module docstring.
constexpr const char* kModuleDoc =
    "Time-tagged satellite state.\n"
    "\n"
    "``Satellite`` holds a satellite's current epoch. ``State`` pairs a reference frame with a\n"
    "time, and ``StateVector`` adds N positions and velocities (N-by-3 float64 arrays viewed\n"
    "in place, never copied) that convert to other frames with ``to_frame`` or by reading an\n"
    "attribute named after a frame (``sv.ITRF``).\n"
    "\n"
    "State\n"
    "    A reference frame and a time. `frame` is a frame object of orbalis.frames.frames\n"
    "    (GCRF, ITRF, TEME, ...) or None, and `time` a Time of orbalis.time.time (one or many\n"
    "    epochs) or None; both are read-only. State() ignores its arguments and holds None in\n"
    "    both; states are filled when they are loaded from a pickle. A State pickles and\n"
    "    copies through the module function __pyx_unpickle_State with a checksum of its\n"
    "    member layout; an instance of a Python subclass carries its __dict__ along.\n"
    "\n"
    "StateVector(time, r, v, frame=\"GCRF\")\n"
    "    Positions and velocities of N epochs in one reference frame. `time` is converted\n"
    "    with Time(time) and stands for all N epochs. `r` and `v` are writable N-by-3 buffers\n"
    "    of native float64 (NumPy arrays, memoryviews, ...; any strides): positions and\n"
    "    velocities along the axes of `frame`, in metres and metres per second for the frames\n"
    "    module's conversions. `frame` is a frame object or a name the frames module resolves.\n"
    "    The arrays are viewed in place, never copied: `r` and `v` return new arrays over the\n"
    "    caller's memory, so writes show through both ways. The state vector keeps the\n"
    "    arrays' owners alive, and a NumPy array it views cannot be resized, until it is\n"
    "    deallocated. to_frame(frame), or reading an attribute named after a frame\n"
    "    (sv.ITRF), gives the same states in another frame. `==` compares the frame object,\n"
    "    then the times, positions and velocities exactly. State vectors are unhashable and\n"
    "    refuse pickling and copying.\n"
    "\n"
    "Satellite()\n"
    "    A satellite's current epoch. `time` is None until the first assignment; assigning\n"
    "    converts the value with Time(value) and keeps the result. A Satellite carries no\n"
    "    orbit data of its own. It refuses pickling and copying.";

// Every type can be subclassed from Python and takes part in garbage collection. The types
// are immutable, as built-in types are: their methods and properties cannot be replaced,
// since the module's own code calls them (`r`, `v` and `to_frame` among them).
constexpr unsigned long kTypeFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE;

template <class Fn>
void* slot(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

PyType_Slot state_slots[] = {
    {Py_tp_new, slot(state_new)},           {Py_tp_dealloc, slot(state_dealloc)},
    {Py_tp_traverse, slot(state_traverse)}, {Py_tp_clear, slot(state_clear)},
    {Py_tp_repr, slot(state_repr)},         {Py_tp_getset, state_getset},
    {Py_tp_methods, state_methods},         {0, nullptr},
};

PyType_Slot sv_slots[] = {
    {Py_tp_new, slot(sv_new)},
    {Py_tp_dealloc, slot(sv_dealloc)},
    {Py_tp_traverse, slot(sv_traverse)},
    {Py_tp_clear, slot(sv_clear)},
    {Py_tp_repr, slot(sv_repr)},
    {Py_tp_getattro, slot(sv_getattro)},
    {Py_tp_richcompare, slot(sv_richcompare)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_tp_getset, sv_getset},
    {Py_tp_methods, sv_methods},
    {0, nullptr},
};

PyType_Slot satellite_slots[] = {
    {Py_tp_doc, const_cast<char*>("Satellite() -> None")},
    {Py_tp_new, slot(satellite_new)},
    {Py_tp_init, slot(satellite_init)},
    {Py_tp_dealloc, slot(satellite_dealloc)},
    {Py_tp_traverse, slot(satellite_traverse)},
    {Py_tp_clear, slot(satellite_clear)},
    {Py_tp_repr, slot(satellite_repr)},
    {Py_tp_getset, satellite_getset},
    {Py_tp_methods, satellite_methods},
    {0, nullptr},
};

PyType_Spec state_spec = {py::dotted<kModule, "State">, sizeof(StateObject), 0, kTypeFlags,
                          state_slots};
PyType_Spec sv_spec = {py::dotted<kModule, "StateVector">, sizeof(StateVectorObject), 0, kTypeFlags,
                       sv_slots};
PyType_Spec satellite_spec = {py::dotted<kModule, "Satellite">, sizeof(SatelliteObject), 0,
                              kTypeFlags, satellite_slots};

// Creates a type (the globals keep it for the life of the process) and publishes it.
PyTypeObject* add_type(PyObject* module, PyType_Spec* spec, PyTypeObject* base = nullptr) {
    Ref type =
        Ref::steal(PyType_FromModuleAndSpec(module, spec, reinterpret_cast<PyObject*>(base)));
    if (!type) return nullptr;
    const char* name = _PyType_Name(reinterpret_cast<PyTypeObject*>(type.get()));
    if (PyModule_AddObjectRef(module, name, type.get()) < 0) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

int ready_types(PyObject* module) {
    g_state_type = add_type(module, &state_spec);
    if (!g_state_type) return -1;
    g_state_vector_type = add_type(module, &sv_spec, g_state_type);
    if (!g_state_vector_type) return -1;
    g_state_vector_type->tp_vectorcall = sv_vectorcall;  // no type slot for it before 3.14
    g_satellite_type = add_type(module, &satellite_spec);
    if (!g_satellite_type) return -1;

    Ref method_type = Ref::steal(
        reinterpret_cast<PyObject*>(py::make_annotated_method_type(py::dotted<kModule, "method">)));
    if (!method_type) return -1;
    const py::AnnotatedMethodDef methods[] = {
        {"to_frame", sv_to_frame, kToFrameDoc, kToFrameAnnotations},
        {nullptr, nullptr, nullptr, nullptr},
    };
    // Each descriptor holds its own reference to the descriptor type.
    if (py::add_annotated_methods(reinterpret_cast<PyTypeObject*>(method_type.get()),
                                  g_state_vector_type, methods) < 0)
        return -1;

    Ref bases = Ref::steal(PyTuple_Pack(2, PyExc_ValueError, PyExc_AttributeError));
    if (!bases) return -1;
    g_frame_attribute_error = PyErr_NewExceptionWithDoc(
        py::dotted<kModule, "FrameAttributeError">,
        "Raised for a StateVector attribute that is neither defined nor a frame name.\n\n"
        "A ValueError, and also an AttributeError so that hasattr() and getattr() with a\n"
        "default treat the attribute as absent.",
        bases.get(), nullptr);
    if (!g_frame_attribute_error) return -1;
    return PyModule_AddObjectRef(module, "FrameAttributeError", g_frame_attribute_error);
}

// `from module import name`, which must be a type.
PyTypeObject* import_type(const char* module, const char* name) {
    Ref attr = py::import_attr(module, name);
    if (!attr) return nullptr;
    if (!PyType_Check(attr.get())) {
        PyErr_Format(PyExc_TypeError, "%s.%s must be a type, not %.200s", module, name,
                     Py_TYPE(attr.get())->tp_name);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(attr.release());
}

int bind_companions() {
    g_time_type = import_type("orbalis.time.time", "Time");
    if (!g_time_type) return -1;
    constexpr const char* kFrames = "orbalis.frames.frames";
    g_frame_type = import_type(kFrames, "Frame");
    if (!g_frame_type) return -1;
    static const char* const class_names[] = {"_GCRF", "_ITRF", "_TEME"};
    static const char* const object_names[] = {"GCRF", "ITRF", "TEME"};
    for (int i = 0; i < 3; ++i) {
        PyTypeObject* cls = import_type(kFrames, class_names[i]);
        if (!cls) return -1;
        g_frame_classes[i] = reinterpret_cast<PyObject*>(cls);
    }
    for (int i = 0; i < 3; ++i) {
        Ref object = py::import_attr(kFrames, object_names[i]);
        if (!object) return -1;
        auto* cls = reinterpret_cast<PyTypeObject*>(g_frame_classes[i]);
        if (!PyObject_TypeCheck(object.get(), cls)) {
            PyErr_Format(PyExc_TypeError, "%s.%s must be a %.200s instance, not %.200s", kFrames,
                         object_names[i], cls->tp_name, Py_TYPE(object.get())->tp_name);
            return -1;
        }
        g_frame_objects[i] = object.release();
    }
    return 0;
}

int intern_names() {
    struct Name {
        PyObject** slot;
        const char* text;
    };
    const Name names[] = {
        {&g_names.r, "r"},
        {&g_names.v, "v"},
        {&g_names.size, "size"},
        {&g_names.is_frame, "is_frame"},
        {&g_names.transform_to, "transform_to"},
        {&g_names.to_frame, "to_frame"},
        {&g_names.dict, "__dict__"},
        {&g_names.update, "update"},
        {&g_names.new_, "__new__"},
        {&g_names.gcrf, "GCRF"},
    };
    for (const Name& name : names) {
        *name.slot = PyUnicode_InternFromString(name.text);
        if (!*name.slot) return -1;
    }
    return 0;
}

PyMethodDef module_functions[] = {
    // Through void(*)(): the interpreter calls it by the METH_FASTCALL signature.
    {"__pyx_unpickle_State",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(unpickle_state)),
     METH_FASTCALL | METH_KEYWORDS,
     "__pyx_unpickle_State(__pyx_type, long __pyx_checksum, __pyx_state)\n\n"
     "Rebuilds a pickled State of type `__pyx_type`; `__pyx_checksum` identifies the member\n"
     "layout the stream was written for."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    const int assertions = py::read_assertions_enabled();
    if (assertions < 0) return -1;
    g_assertions_enabled = assertions != 0;
    if (intern_names() < 0) return -1;
    if (ready_types(module) < 0) return -1;
    if (bind_companions() < 0) return -1;

    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyArray_ImportNumPyAPI() < 0) return -1;
    if (PyModule_AddObjectRef(module, "numpy", numpy.get()) < 0) return -1;
    g_numpy_all = PyObject_GetAttrString(numpy.get(), "all");
    if (!g_numpy_all) return -1;

    if (py::bind_import(PyModule_GetDict(module), "orbalis.typing", "DatetimeLike") < 0) return -1;

    if (PyModule_AddFunctions(module, module_functions) < 0) return -1;
    g_unpickle_state = PyObject_GetAttrString(module, "__pyx_unpickle_State");
    return g_unpickle_state ? 0 : -1;
}

}  // namespace
}  // namespace orbalis::satellite

PyMODINIT_FUNC PyInit_satellite() {
    using orbalis::satellite::kModule;
    return orbalis::py::init_module<orbalis::satellite::exec_module>(
        kModule.text, orbalis::satellite::kModuleDoc);
}
