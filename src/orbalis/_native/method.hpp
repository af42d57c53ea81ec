// A method descriptor that carries annotations.
//
// The interpreter's builtin method descriptor has no `__annotations__`, but the methods of
// the orbalis types publish theirs (strings such as "ndarray[double]"). This descriptor
// type is a small stand-in: it is called through vectorcall with `self` as the first
// argument, so `obj.method(...)` costs no bound-method allocation, and it exposes
// `__name__`, `__qualname__`, `__doc__`, `__annotations__` and `__objclass__`. Like the
// interpreter's own method descriptors, each owns a reference to its owning type and
// visits it, so that a heap type and the descriptors in its dict form a collectable cycle.
#pragma once

#include "pyref.hpp"

#include <structmember.h>

#include <cstring>

namespace orbalis::py {

// Implementation of a method: `self` first, then the arguments in vectorcall form.
using MethodImpl = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

struct AnnotatedMethodDef {
    const char* name;
    MethodImpl impl;
    const char* doc;
    // Parameter names and annotations, alternating, then "return" and its annotation;
    // NULL-terminated.
    const char* const* annotations;
};

struct AnnotatedMethod {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyTypeObject* owner;  // owned; set once, released at deallocation
    MethodImpl impl;
    PyObject* name;
    PyObject* qualname;
    PyObject* doc;
    PyObject* annotations;
};

inline PyObject* annotated_method_vectorcall(PyObject* callable, PyObject* const* args,
                                             size_t nargsf, PyObject* kwnames) {
    auto* m = reinterpret_cast<AnnotatedMethod*>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "unbound method %U needs an argument", m->qualname);
        return nullptr;
    }
    if (!PyObject_TypeCheck(args[0], m->owner)) {
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%U' for '%s' objects doesn't apply to a '%s' object", m->name,
                     _PyType_Name(m->owner), Py_TYPE(args[0])->tp_name);
        return nullptr;
    }
    return m->impl(args[0], args + 1, nargs - 1, kwnames);
}

inline PyObject* annotated_method_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

inline PyObject* annotated_method_repr(PyObject* self) {
    auto* m = reinterpret_cast<AnnotatedMethod*>(self);
    return PyUnicode_FromFormat("<method '%U' of '%s' objects>", m->name, _PyType_Name(m->owner));
}

inline int annotated_method_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* m = reinterpret_cast<AnnotatedMethod*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(m->owner);
    Py_VISIT(m->annotations);
    return 0;
}

// The owner stays until deallocation, since every call needs it; the type's own clear
// (which empties its dict) breaks a cycle through it. The annotations dict is mutable
// and could refer back to the descriptor, so it is cleared.
inline int annotated_method_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<AnnotatedMethod*>(self)->annotations);
    return 0;
}

inline void annotated_method_dealloc(PyObject* self) {
    auto* m = reinterpret_cast<AnnotatedMethod*>(self);
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_XDECREF(m->name);
    Py_XDECREF(m->qualname);
    Py_XDECREF(m->doc);
    Py_XDECREF(m->annotations);
    Py_XDECREF(m->owner);
    tp->tp_free(self);
    Py_DECREF(tp);
}

inline PyObject* annotated_method_objclass(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<PyObject*>(reinterpret_cast<AnnotatedMethod*>(self)->owner));
}

// Creates the descriptor type; each extension module makes its own once at import. It
// cannot be instantiated from Python (a descriptor is only made by add_annotated_methods)
// and its attributes cannot be replaced.
inline PyTypeObject* make_annotated_method_type(const char* qualified_name) {
    static PyMemberDef members[] = {
        {"__vectorcalloffset__", T_PYSSIZET, offsetof(AnnotatedMethod, vectorcall), READONLY,
         nullptr},
        {"__name__", T_OBJECT, offsetof(AnnotatedMethod, name), READONLY, nullptr},
        {"__qualname__", T_OBJECT, offsetof(AnnotatedMethod, qualname), READONLY, nullptr},
        {"__doc__", T_OBJECT, offsetof(AnnotatedMethod, doc), READONLY, nullptr},
        {"__annotations__", T_OBJECT, offsetof(AnnotatedMethod, annotations), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        {"__objclass__", annotated_method_objclass, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
        {Py_tp_descr_get, reinterpret_cast<void*>(annotated_method_get)},
        {Py_tp_repr, reinterpret_cast<void*>(annotated_method_repr)},
        {Py_tp_traverse, reinterpret_cast<void*>(annotated_method_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(annotated_method_clear)},
        {Py_tp_dealloc, reinterpret_cast<void*>(annotated_method_dealloc)},
        {Py_tp_members, members},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    PyType_Spec spec = {qualified_name, sizeof(AnnotatedMethod), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                            Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE |
                            Py_TPFLAGS_DISALLOW_INSTANTIATION,
                        slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

// Installs `defs` (terminated by an entry with a NULL name) into the dict of `owner`.
inline int add_annotated_methods(PyTypeObject* descr_type, PyTypeObject* owner,
                                 const AnnotatedMethodDef* defs) {
    for (const AnnotatedMethodDef* def = defs; def->name; ++def) {
        Ref descr = Ref::steal(PyType_GenericAlloc(descr_type, 0));
        if (!descr) return -1;
        auto* m = reinterpret_cast<AnnotatedMethod*>(descr.get());
        m->vectorcall = annotated_method_vectorcall;
        Py_INCREF(owner);
        m->owner = owner;
        m->impl = def->impl;
        m->name = PyUnicode_FromString(def->name);
        const char* dot = std::strrchr(owner->tp_name, '.');
        m->qualname = PyUnicode_FromFormat("%s.%s", dot ? dot + 1 : owner->tp_name, def->name);
        m->doc = def->doc ? PyUnicode_FromString(def->doc) : Py_NewRef(Py_None);
        m->annotations = PyDict_New();
        if (!m->name || !m->qualname || !m->doc || !m->annotations) return -1;
        for (const char* const* a = def->annotations; a && a[0]; a += 2) {
            Ref value = Ref::steal(PyUnicode_FromString(a[1]));
            if (!value || PyDict_SetItemString(m->annotations, a[0], value.get()) < 0) return -1;
        }
        if (PyDict_SetItemString(owner->tp_dict, def->name, descr.get()) < 0) return -1;
    }
    PyType_Modified(owner);
    return 0;
}

}  // namespace orbalis::py
