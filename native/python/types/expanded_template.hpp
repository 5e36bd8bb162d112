#pragma once
// The class ExpandedTemplate: the read-only result of expand_includes.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/include/expansion.hpp"

namespace zelk::python {

/// The class `ExpandedTemplate` (created on first use).
PyTypeObject* expanded_template_type();

/// A new `ExpandedTemplate` instance owning `expanded`; nullptr with an exception set.
PyObject* wrap_expanded_template(composer::ExpandedTemplate expanded);

}  // namespace zelk::python
