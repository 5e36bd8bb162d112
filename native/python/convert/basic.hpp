#pragma once
// Small conversion helpers shared by the value and collection converters.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <iterator>
#include <optional>
#include <string>

#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace zelk::python {

/// The UTF-8 text of a str (the caller has checked the type). A str holding lone surrogates
/// has no UTF-8 form and is refused with ZelkValidationError; nullopt with an exception set.
std::optional<std::string> utf8_text(PyObject* text);

/// A new list holding `wrap(element)` (a new reference, or nullptr with an exception set) for
/// every element of `range`, in order; nullptr with an exception set on failure.
template <typename Range, typename Wrap>
PyObject* new_list(const Range& range, Wrap&& wrap) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(std::size(range))));
    if (!list) {
        return nullptr;
    }
    Py_ssize_t i = 0;
    for (const auto& element : range) {
        PyObject* item = wrap(element);
        if (item == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), i++, item);
    }
    return list.release();
}

/// Calls `visit(item)` (a borrowed item, returning false with an exception set to stop) for
/// every item of `iterable`, in order. False with an exception set when iteration or a visit
/// fails; a non-iterable raises Python's TypeError.
template <typename Visit>
bool for_each_item(PyObject* iterable, Visit&& visit) {
    PyRef iterator = PyRef::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return false;
    }
    for (;;) {
        PyRef item = PyRef::steal(PyIter_Next(iterator.get()));
        if (!item) {
            return PyErr_Occurred() == nullptr;
        }
        if (!visit(item.get())) {
            return false;
        }
    }
}

/// Calls `visit(key, value)` (borrowed, returning false with an exception set to stop) for
/// every item of `dict` in its own order, holding both while `visit` runs. Caller code run by
/// `visit` may change the dict: a change of size, or more items than it had, raises the
/// internal-failure exception.
template <typename Visit>
bool for_each_dict_item(PyObject* dict, Visit&& visit) {
    const Py_ssize_t size = PyDict_GET_SIZE(dict);
    Py_ssize_t position = 0;
    Py_ssize_t visited = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (;;) {
        if (PyDict_GET_SIZE(dict) != size) {
            raise_internal_failure("dictionary changed size during iteration");
            return false;
        }
        if (!PyDict_Next(dict, &position, &key, &value)) {
            return true;
        }
        if (++visited > size) {
            raise_internal_failure("dictionary keys changed during iteration");
            return false;
        }
        const PyRef held_key = PyRef::borrow(key);
        const PyRef held_value = PyRef::borrow(value);
        if (!visit(held_key.get(), held_value.get())) {
            return false;
        }
    }
}

}  // namespace zelk::python
