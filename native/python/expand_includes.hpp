#pragma once
// The module function expand_includes.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// "expand_includes(template_path, root, policy=None)"
extern PyMethodDef expand_includes_def;

}  // namespace zelk::python
