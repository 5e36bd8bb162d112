#pragma once
// The class LoadedTemplateRequest: the input of render_loaded_template.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/renderer.hpp"

namespace zelk::python {

/// The class `LoadedTemplateRequest` (created on first use).
PyTypeObject* loaded_template_request_type();

/// The request held by a `LoadedTemplateRequest` instance, or nullptr when `object` is not one
/// (an exception is set only when the class itself could not be created).
const composer::LoadedTemplateRequest* unwrap_loaded_template_request(PyObject* object);

}  // namespace zelk::python
