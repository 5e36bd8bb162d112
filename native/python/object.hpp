#pragma once
// Heap classes whose instances hold one immutable C++ value, and their lazy process-wide creation.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <type_traits>
#include <utility>

namespace zelk::python {

/// Returns the class in `slot`, creating it with `create` on first use. Creation runs with the
/// interpreter lock held; if it ever released the lock and another thread won the race, the
/// loser's class is dropped so that exactly one class object is ever handed out.
/// Returns nullptr with an exception set when creation fails (the next call retries).
PyTypeObject* lazy_type(PyTypeObject*& slot, PyTypeObject* (*create)());

/// Creates a heap class from `spec` (optionally with one base class); nullptr on failure.
PyTypeObject* make_type(PyType_Spec& spec, PyObject* base = nullptr);

/// Instance layout of a class holding a `T`.
template <typename T>
struct Boxed {
    PyObject_HEAD T value;
};

/// tp_dealloc for Boxed<T> classes without references to other Python objects.
template <typename T>
void boxed_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<Boxed<T>*>(self)->value.~T();
    type->tp_free(self);
    Py_DECREF(type);
}

/// A new instance of `type` (a Boxed<T> class) holding `value`; nullptr with an exception set.
template <typename T>
PyObject* box(PyTypeObject* type, T value) {
    if (type == nullptr) {
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    new (&reinterpret_cast<Boxed<T>*>(self)->value) T(std::move(value));
    return self;
}

/// The value held by an instance of a Boxed<T> class (the caller has checked the type).
template <typename T>
const T& unbox(PyObject* self) {
    return reinterpret_cast<Boxed<T>*>(self)->value;
}

/// The value if `object` is an instance of `type`, else nullptr (no exception set).
template <typename T>
const T* unbox_if(PyObject* object, PyTypeObject* type) {
    if (type == nullptr || !PyObject_TypeCheck(object, type)) {
        return nullptr;
    }
    return &unbox<T>(object);
}

}  // namespace zelk::python
