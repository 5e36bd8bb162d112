#pragma once
// The class VerifyResult: a deployed file compared with a fresh composition, read-only.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/verify.hpp"

namespace zelk::python {

/// The class `VerifyResult` (created on first use; not instantiable from Python).
PyTypeObject* verify_result_type();

/// A new `VerifyResult` instance owning `result`; nullptr with an exception set.
PyObject* wrap_verify_result(composer::VerifyResult result);

}  // namespace zelk::python
