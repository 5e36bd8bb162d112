#pragma once
// The class ResolveResult: how a template was found.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/resolver.hpp"

namespace zelk::python {

/// The class `ResolveResult` (created on first use).
PyTypeObject* resolve_result_type();

/// A new `ResolveResult` instance owning `result`; nullptr with an exception set.
PyObject* wrap_resolve_result(composer::ResolveResult result);

}  // namespace zelk::python
