#pragma once
// The class Renderer: a reusable configured renderer.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// The class `Renderer` (created on first use; not subclassable).
PyTypeObject* renderer_type();

}  // namespace zelk::python
