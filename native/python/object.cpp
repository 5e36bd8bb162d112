#include "python/object.hpp"

namespace zelk::python {

PyTypeObject* lazy_type(PyTypeObject*& slot, PyTypeObject* (*create)()) {
    if (slot != nullptr) {
        return slot;
    }
    PyTypeObject* created = create();
    if (created == nullptr) {
        return nullptr;
    }
    if (slot != nullptr) {
        Py_DECREF(created);
        return slot;
    }
    // The slot keeps this reference for the life of the process.
    slot = created;
    return slot;
}

PyTypeObject* make_type(PyType_Spec& spec, PyObject* base) {
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpecWithBases(&spec, base));
}

}  // namespace zelk::python
