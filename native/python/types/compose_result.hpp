#pragma once
// The class ComposeResult: the composed text with its provenance, read-only.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/composer.hpp"

namespace zelk::python {

/// The class `ComposeResult` (created on first use; not instantiable from Python).
PyTypeObject* compose_result_type();

/// A new `ComposeResult` instance owning `result`; nullptr with an exception set.
PyObject* wrap_compose_result(composer::ComposeResult result);

}  // namespace zelk::python
