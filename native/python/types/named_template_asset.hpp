#pragma once
// The class NamedTemplateAsset: one supporting template of render_loaded_template.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/renderer.hpp"

namespace zelk::python {

/// The class `NamedTemplateAsset` (created on first use).
PyTypeObject* named_template_asset_type();

/// The asset held by a `NamedTemplateAsset` instance, or nullptr when `object` is not one.
const composer::NamedTemplateAsset* unwrap_named_template_asset(PyObject* object);

}  // namespace zelk::python
