#pragma once
// The class Diagnostic: one finding about a template or its inputs, read-only.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

#include "composer/diagnostics/record.hpp"

namespace zelk::python {

/// The class `Diagnostic` (created on first use; not instantiable from Python).
PyTypeObject* diagnostic_type();

/// A new `Diagnostic` instance holding a copy of `diagnostic`; nullptr with an exception set.
PyObject* wrap_diagnostic(const composer::Diagnostic& diagnostic);

/// A new list of new `Diagnostic` instances, in order.
PyObject* diagnostic_list(const std::vector<composer::Diagnostic>& diagnostics);

}  // namespace zelk::python
