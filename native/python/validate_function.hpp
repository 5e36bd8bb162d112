#pragma once
// The module function validate.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// "validate(request)"
extern PyMethodDef validate_def;

}  // namespace zelk::python
