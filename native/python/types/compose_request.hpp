#pragma once
// The class ComposeRequest: one composition request with its canonical workspace root.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/types/request.hpp"

namespace zelk::python {

/// The class `ComposeRequest` (created on first use).
PyTypeObject* compose_request_type();

/// The request held by a `ComposeRequest` instance, or nullptr when `object` is not one.
const composer::ComposeRequest* unwrap_compose_request(PyObject* object);

}  // namespace zelk::python
