#pragma once
// The class ValidationReport: the read-only outcome of validate.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/validate.hpp"

namespace zelk::python {

/// The class `ValidationReport` (created on first use; not instantiable from Python).
PyTypeObject* validation_report_type();

/// A new `ValidationReport` instance owning `report`; nullptr with an exception set.
PyObject* wrap_validation_report(composer::ValidationReport report);

}  // namespace zelk::python
