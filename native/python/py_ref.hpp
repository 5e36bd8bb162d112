#pragma once
// An owning reference to a Python object, so that every early return releases what it holds.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace zelk::python {

/// Owns one strong reference (or nothing). Copying takes another reference; moving transfers it.
class PyRef {
  public:
    PyRef() = default;
    /// Takes ownership of a new reference (typically the result of a C API call; may be null).
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    /// Takes a new reference to a borrowed object (may be null).
    static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(const PyRef& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    /// The object, still owned by this reference.
    PyObject* get() const noexcept { return object_; }
    /// Gives up ownership and returns the object (the caller now owns the reference).
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    /// A new strong reference for the caller, this one keeping its own.
    PyObject* new_ref() const noexcept {
        Py_XINCREF(object_);
        return object_;
    }
    explicit operator bool() const noexcept { return object_ != nullptr; }

  private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace zelk::python
